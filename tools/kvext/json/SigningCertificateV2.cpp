// KVCMSG_SIGNING_CERTIFICATEV2 <-> {"Certs": [{"HashAlgorithm", "CertHash", "IssuerSerial"}],
// "Policies"}.
#include "json/Ess.h"

namespace kvext::tool {

Json SigningCertificateV2ToJson(const void *pvStructInfo)
{
    return SigningCertificateJson<KVCMSG_SIGNING_CERTIFICATEV2>(pvStructInfo);
}

const void *SigningCertificateV2FromJson(const Field &value, Arena &arena)
{
    return SigningCertificateFrom<KVCMSG_SIGNING_CERTIFICATEV2>(value, arena);
}

} // namespace kvext::tool
