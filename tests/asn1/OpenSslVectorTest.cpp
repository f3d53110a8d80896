// DER made by openssl (tests/data/asn1/README.md) decodes to the values openssl was asked
// for and encodes back to the same octets.
#include <bit>
#include <cstring>

#include "Asn1Vectors.h"

using namespace asn1test;

namespace {

template <typename T> const T &Element(const DList &list, ASN1UINT index)
{
    const DListNode *node = rtDListFindByIndex(&list, index);
    EXPECT_NE(nullptr, node);
    return *static_cast<const T *>(node->data);
}

std::string OidText(const ASN1OBJID &oid)
{
    char text[512];
    return rtOidToStr(&oid, text, sizeof text) ? text : "?";
}

std::string Text(const ASN1OpenType &open)
{
    return ToHex(Bytes(open.data, open.data + open.numocts));
}

} // namespace

TEST(OpenSslVectors, EncodeBackToTheSameOctets)
{
    for (const Vector &v : OpenSslVectors()) {
        SCOPED_TRACE(v.name);
        EXPECT_EQ(ToHex(v.der), ToHex(v.reencode(v.der)));
    }
}

TEST(OpenSslVectors, SubjectAltNameHoldsEveryForm)
{
    Context ctx;
    GeneralNames names{};
    ASSERT_EQ(0, ctx.Decode(asn1D_GeneralNames, ReadVector("san_all_forms.der"), &names));
    ASSERT_EQ(8u, names.count);
    // openssl writes them in configuration order: URI, DNS, email, IPv4, IPv6, dirName,
    // otherName, RID.
    const ASN1UINT expected[] = {7, 3, 2, 8, 8, 5, 1, 9};
    for (ASN1UINT i = 0; i < 8; ++i)
        EXPECT_EQ(expected[i], Element<GeneralName>(names, i).t);
    EXPECT_STREQ("http://www.example.com/path",
                 Element<GeneralName>(names, 0).u.uniformResourceIdentifier);
    EXPECT_STREQ("www.example.com", Element<GeneralName>(names, 1).u.dNSName);
    EXPECT_STREQ("user@example.com", Element<GeneralName>(names, 2).u.rfc822Name);
    EXPECT_EQ(4u, Element<GeneralName>(names, 3).u.iPAddress->numocts);
    EXPECT_EQ(16u, Element<GeneralName>(names, 4).u.iPAddress->numocts);
    const Name &dir = *Element<GeneralName>(names, 5).u.directoryName;
    EXPECT_EQ(3u, dir.u.rdnSequence->count);
    const GeneralName_otherName &other = *Element<GeneralName>(names, 6).u.otherName;
    EXPECT_EQ("1.3.6.1.4.1.311.20.2.3", OidText(other.type_id));
    EXPECT_EQ("0C 10 75 73 65 72 40 65 78 61 6D 70 6C 65 2E 63 6F 6D", Text(other.value));
    EXPECT_EQ("1.2.3.4.5", OidText(*Element<GeneralName>(names, 7).u.registeredID));
}

TEST(OpenSslVectors, X400AddressAndEdiPartyNames)
{
    Context ctx;
    GeneralNames names{};
    ASSERT_EQ(0, ctx.Decode(asn1D_GeneralNames, ReadVector("generalnames_x400_edi.der"), &names));
    ASSERT_EQ(4u, names.count);
    const ORAddress &x400 = *Element<GeneralName>(names, 0).u.x400Address;
    EXPECT_EQ(2u, x400.built_in_standard_attributes.country_name.t);
    EXPECT_STREQ("Example Org", x400.built_in_standard_attributes.organization_name);
    const EDIPartyName &bmp = *Element<GeneralName>(names, 1).u.ediPartyName;
    ASSERT_TRUE(bmp.m.nameAssignerPresent);
    EXPECT_EQ(5u, bmp.nameAssigner.t);
    EXPECT_EQ(8u, bmp.nameAssigner.u.bmpString.nchars);
    EXPECT_EQ(1u, bmp.partyName.t);
    EXPECT_STREQ("Party name", bmp.partyName.u.utf8String);
    const EDIPartyName &partyOnly = *Element<GeneralName>(names, 2).u.ediPartyName;
    EXPECT_FALSE(partyOnly.m.nameAssignerPresent);
    EXPECT_EQ(2u, partyOnly.partyName.t);
    const EDIPartyName &universal = *Element<GeneralName>(names, 3).u.ediPartyName;
    EXPECT_EQ(3u, universal.nameAssigner.t);
    EXPECT_EQ(4u, universal.partyName.t);
    EXPECT_EQ(15u, universal.partyName.u.universalString.nchars);
    EXPECT_EQ(ASN1UINT{'U'}, universal.partyName.u.universalString.data[0]);
}

TEST(OpenSslVectors, NamesWithSeveralValuedRdns)
{
    Context ctx;
    Name subject{};
    ASSERT_EQ(0, ctx.Decode(asn1D_Name, ReadVector("name_subject.der"), &subject));
    ASSERT_EQ(1u, subject.t);
    ASSERT_EQ(5u, subject.u.rdnSequence->count);
    EXPECT_EQ(2u, Element<RelativeDistinguishedName>(*subject.u.rdnSequence, 2).count);

    Name types{};
    ASSERT_EQ(0, ctx.Decode(asn1D_Name, ReadVector("name_string_types.der"), &types));
    ASSERT_EQ(5u, types.u.rdnSequence->count);
    const auto &multi = Element<RelativeDistinguishedName>(*types.u.rdnSequence, 2);
    ASSERT_EQ(3u, multi.count);
    // DER order compares whole encodings, so the shortest value comes first: serialNumber
    // (10 digits), organizationalUnitName (12 characters), commonName (20).
    EXPECT_EQ("2.5.4.5", OidText(Element<AttributeTypeAndValue>(multi, 0).type));
    EXPECT_EQ("2.5.4.11", OidText(Element<AttributeTypeAndValue>(multi, 1).type));
    EXPECT_EQ("2.5.4.3", OidText(Element<AttributeTypeAndValue>(multi, 2).type));
}

TEST(OpenSslVectors, PoliciesWithCpsAndUserNotice)
{
    Context ctx;
    _SeqOfPolicyInformation policies{};
    ASSERT_EQ(0, ctx.Decode(asn1D__SeqOfPolicyInformation, ReadVector("policies.der"), &policies));
    ASSERT_EQ(2u, policies.count);
    EXPECT_EQ("1.2.643.100.113.1",
              OidText(Element<PolicyInformation>(policies, 0).policyIdentifier));
    EXPECT_FALSE(Element<PolicyInformation>(policies, 0).m.policyQualifiersPresent);
    const auto &withQualifiers = Element<PolicyInformation>(policies, 1);
    ASSERT_TRUE(withQualifiers.m.policyQualifiersPresent);
    ASSERT_EQ(2u, withQualifiers.policyQualifiers.count);
    const auto &cps = Element<PolicyQualifierInfo>(withQualifiers.policyQualifiers, 0);
    EXPECT_EQ("1.3.6.1.5.5.7.2.1", OidText(cps.policyQualifierId));
    ASSERT_TRUE(cps.m.qualifierPresent);
    EXPECT_EQ(0x16, cps.qualifier.data[0]); // IA5String
    const auto &notice = Element<PolicyQualifierInfo>(withQualifiers.policyQualifiers, 1);
    EXPECT_EQ("1.3.6.1.5.5.7.2.2", OidText(notice.policyQualifierId));
    EXPECT_EQ(0x30, notice.qualifier.data[0]); // UserNotice SEQUENCE
}

TEST(OpenSslVectors, ORAddressAtItsBounds)
{
    Context ctx;
    ORAddress full{};
    ASSERT_EQ(0, ctx.Decode(asn1D_ORAddress, ReadVector("oraddress_bounds.der"), &full));
    const BuiltInStandardAttributes &std = full.built_in_standard_attributes;
    EXPECT_EQ(0xFF800000u, std::bit_cast<ASN1UINT>(std.m)); // all nine present
    EXPECT_EQ(16u, std::strlen(std.network_address));
    EXPECT_EQ(24u, std::strlen(std.terminal_identifier));
    EXPECT_EQ(64u, std::strlen(std.organization_name));
    EXPECT_EQ(32u, std::strlen(std.numeric_user_identifier));
    EXPECT_EQ(40u, std::strlen(std.personal_name.surname));
    EXPECT_STREQ("III", std.personal_name.generation_qualifier);
    EXPECT_EQ(4u, std.organizational_unit_names.n);
    EXPECT_EQ(4u, full.built_in_domain_defined_attributes.count);
    ASSERT_EQ(3u, full.extension_attributes.count);
    // DER order by whole encodings: type 0 with NULL (30 07), 256 (30 11), 1 (30 14).
    EXPECT_EQ(0,
              Element<ExtensionAttribute>(full.extension_attributes, 0).extension_attribute_type);
    EXPECT_EQ(256,
              Element<ExtensionAttribute>(full.extension_attributes, 1).extension_attribute_type);
    EXPECT_EQ(1,
              Element<ExtensionAttribute>(full.extension_attributes, 2).extension_attribute_type);

    ORAddress numeric{};
    ASSERT_EQ(0, ctx.Decode(asn1D_ORAddress, ReadVector("oraddress_numeric.der"), &numeric));
    const BuiltInStandardAttributes &few = numeric.built_in_standard_attributes;
    EXPECT_EQ(1u, few.country_name.t);
    EXPECT_STREQ("643", few.country_name.u.x121_dcc_code);
    EXPECT_EQ(1u, few.administration_domain_name.t);
    EXPECT_STREQ("", few.administration_domain_name.u.numeric);
    EXPECT_EQ(1u, few.private_domain_name.t);
    EXPECT_FALSE(few.personal_name.m.given_namePresent);
    EXPECT_FALSE(numeric.m.built_in_domain_defined_attributesPresent);
}
