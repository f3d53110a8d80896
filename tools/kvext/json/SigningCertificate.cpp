// KVCMSG_SIGNING_CERTIFICATE <-> {"Certs": [{"CertHash", "IssuerSerial"}], "Policies"}, and the
// issuer-and-serial piece all three signing-certificate mappings use.
#include "json/Ess.h"

namespace kvext::tool {

Json IssuerSerialJson(const KVCMSG_ISSUER_SERIAL &issuerSerial)
{
    return Json{{"Issuer", NameJson(issuerSerial.Issuer)},
                {"SerialNumber", SerialJson(issuerSerial.SerialNumber)}};
}

KVCMSG_ISSUER_SERIAL IssuerSerialFrom(const Field &field, Arena &arena)
{
    field.ExpectMembers({"Issuer", "SerialNumber"});
    return KVCMSG_ISSUER_SERIAL{NameFrom(field.At("Issuer"), arena),
                                SerialFrom(field.At("SerialNumber"), arena)};
}

Json SigningCertificateToJson(const void *pvStructInfo)
{
    return SigningCertificateJson<KVCMSG_SIGNING_CERTIFICATE>(pvStructInfo);
}

const void *SigningCertificateFromJson(const Field &value, Arena &arena)
{
    return SigningCertificateFrom<KVCMSG_SIGNING_CERTIFICATE>(value, arena);
}

} // namespace kvext::tool
