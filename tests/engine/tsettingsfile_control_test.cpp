// The settings file's control API entries: "ControlApi", "ControlPort", "ControlAddress"
// and "ControlTokenFile".
#include "engine/tsettingsfile.h"

#include "support/txmlelement.h"

#include <gtest/gtest.h>

namespace {

TXmlElement Config(const char* body)
{
    return TXmlElement::ParseDocument(TAString("<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\n<Quorvella>") + body +
                                      "</Quorvella>\n");
}

TEST(TSettingsFileControl, OffUnlessSwitchedOnAndADamagedEntryKeepsItOff)
{
    const struct {
        const char* what;
        const char* body;   // inside <Quorvella>
        bool enabled;
        uint16_t port;
        const char* address;
        const char* problem;
    } rows[] = {
        {"no entries", "", false, 8080, "", ""},
        {"switched off", "<ControlApi>0</ControlApi><ControlPort>9000</ControlPort>", false, 9000, "", ""},
        {"switched on", "<ControlApi>1</ControlApi>", true, 8080, "", ""},
        {"on, port and address", "<ControlApi>1</ControlApi><ControlPort>65535</ControlPort><ControlAddress>0.0.0.0</ControlAddress>",
         true, 65535, "0.0.0.0", ""},
        {"port 1", "<ControlApi>1</ControlApi><ControlPort>1</ControlPort>", true, 1, "", ""},
        {"neither 0 nor 1", "<ControlApi>yes</ControlApi>", false, 8080, "",
         "settings entry \"ControlApi\" is 'yes', not 1 (on) or 0 (off)"},
        {"port beyond 65535", "<ControlApi>1</ControlApi><ControlPort>65536</ControlPort>", false, 8080, "",
         "settings entry \"ControlPort\" is '65536', not a port 1 to 65535: the control API is off"},
        {"port 0", "<ControlApi>1</ControlApi><ControlPort>0</ControlPort>", false, 8080, "",
         "settings entry \"ControlPort\" is '0', not a port 1 to 65535: the control API is off"},
        {"port with a sign", "<ControlApi>1</ControlApi><ControlPort>-80</ControlPort>", false, 8080, "",
         "settings entry \"ControlPort\" is '-80', not a port 1 to 65535: the control API is off"},
        {"a bad port while off", "<ControlApi>0</ControlApi><ControlPort>x</ControlPort>", false, 8080, "",
         "settings entry \"ControlPort\" is 'x', not a port 1 to 65535"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        const TSettingsFile::TControlSettings control = TSettingsFile::Control(Config(row.body));
        EXPECT_EQ(control.Enabled, row.enabled);
        EXPECT_EQ(control.Port, row.port);
        EXPECT_EQ(control.Address, row.address);
        EXPECT_EQ(control.Problem, row.problem);
    }
}

TEST(TSettingsFileControl, WrittenEntriesReadBackTheSame)
{
    TXmlElement config = Config("");
    TSettingsFile::TControlSettings written;
    written.Enabled = true;
    written.Port = 18080;
    written.Address = "192.0.2.7";
    written.TokenFile = "/etc/quorvella/token";
    TSettingsFile::SetControl(config, written);
    const TSettingsFile::TControlSettings read = TSettingsFile::Control(TXmlElement::ParseDocument(config.DocumentText()));
    EXPECT_TRUE(read.Enabled);
    EXPECT_EQ(read.Port, 18080);
    EXPECT_EQ(read.Address, "192.0.2.7");
    EXPECT_EQ(read.TokenFile, "/etc/quorvella/token");
    EXPECT_EQ(read.Problem, "");
}

}  // namespace
