// KVCERT_ISSUER_SIGN_TOOL <-> its four texts, as UTF-8 strings.
#include "json/Mapping.h"

#include <kvext/certext.h>

namespace kvext::tool {

Json IssuerSignToolToJson(const void *pvStructInfo)
{
    const auto *tool = static_cast<const KVCERT_ISSUER_SIGN_TOOL *>(pvStructInfo);
    return Json{{"SignTool", Utf8(tool->pwszSignTool)},
                {"CATool", Utf8(tool->pwszCATool)},
                {"SignToolCert", Utf8(tool->pwszSignToolCert)},
                {"CAToolCert", Utf8(tool->pwszCAToolCert)}};
}

const void *IssuerSignToolFromJson(const Field &value, Arena &arena)
{
    value.ExpectMembers({"SignTool", "CATool", "SignToolCert", "CAToolCert"});
    auto *tool = arena.New<KVCERT_ISSUER_SIGN_TOOL>();
    tool->pwszSignTool = arena.Wide(value.At("SignTool").String());
    tool->pwszCATool = arena.Wide(value.At("CATool").String());
    tool->pwszSignToolCert = arena.Wide(value.At("SignToolCert").String());
    tool->pwszCAToolCert = arena.Wide(value.At("CAToolCert").String());
    return tool;
}

} // namespace kvext::tool
