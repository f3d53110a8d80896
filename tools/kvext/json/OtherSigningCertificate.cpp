// KVCMSG_OTHER_SIGNING_CERTIFICATE <-> {"Certs": [{"HashAlgorithm", "CertHash",
// "IssuerSerial"}], "Policies"}.
#include "json/Ess.h"

namespace kvext::tool {

Json OtherSigningCertificateToJson(const void *pvStructInfo)
{
    return SigningCertificateJson<KVCMSG_OTHER_SIGNING_CERTIFICATE>(pvStructInfo);
}

const void *OtherSigningCertificateFromJson(const Field &value, Arena &arena)
{
    return SigningCertificateFrom<KVCMSG_OTHER_SIGNING_CERTIFICATE>(value, arena);
}

} // namespace kvext::tool
