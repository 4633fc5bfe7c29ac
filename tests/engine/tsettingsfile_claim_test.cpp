// The settings file's address claim entries: "AddressClaim" and "J1939Name".
#include "engine/tsettingsfile.h"

#include "support/txmlelement.h"

#include <gtest/gtest.h>

namespace {

TEST(TSettingsFileClaim, EntriesOrTheDefaultsWithTheReason)
{
    const struct {
        const char* what;
        const char* body;   // inside <Quorvella>
        bool enabled;
        uint64_t name;
        const char* problem;
    } rows[] = {
        {"no entries", "", true, 0x1000000000000001ull, ""},
        {"switched off", "<AddressClaim>0</AddressClaim>", false, 0x1000000000000001ull, ""},
        {"switched on, a NAME", "<AddressClaim>1</AddressClaim><J1939Name>A00000000000FF12</J1939Name>", true,
         0xA00000000000FF12ull, ""},
        {"a short NAME", "<J1939Name>0x21</J1939Name>", true, 0x21ull, ""},
        {"neither 0 nor 1", "<AddressClaim>no</AddressClaim>", true, 0x1000000000000001ull,
         "settings entry \"AddressClaim\" is 'no', not 1 (claim) or 0 (no claim): the address is claimed"},
        {"a NAME of 17 digits", "<J1939Name>10000000000000001</J1939Name>", true, 0x1000000000000001ull,
         "settings entry \"J1939Name\" is '10000000000000001', not 1 to 16 hexadecimal digits: the NAME is "
         "1000000000000001"},
        {"an empty NAME", "<J1939Name/>", true, 0x1000000000000001ull,
         "settings entry \"J1939Name\" is '', not 1 to 16 hexadecimal digits: the NAME is 1000000000000001"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        const TXmlElement config =
            TXmlElement::ParseDocument(TAString("<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\n<Quorvella>") + row.body + "</Quorvella>\n");
        const TSettingsFile::TClaimSettings claim = TSettingsFile::AddressClaim(config);
        EXPECT_EQ(claim.Enabled, row.enabled);
        EXPECT_EQ(claim.Name, row.name);
        EXPECT_EQ(claim.Problem, row.problem);
    }
}

}  // namespace
