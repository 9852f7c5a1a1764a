#include "core/settings_store.h"

#include <gtest/gtest.h>

#include "platform/fake/memory_profile.h"

namespace zuvo {
namespace {

class SettingsStoreTest : public ::testing::Test {
protected:
    platform::fake::MemoryProfile profile;
    SettingsStore settings{profile, "/cfg/ZuvoBox.ini"};
    void Seed(const std::string& text) { profile.SetText(settings.Path(), text); }
};

TEST_F(SettingsStoreTest, MissingKeysGiveTheCallersDefaults) {
    EXPECT_EQ(settings.ReadInt("Keyer", "Port", -1), -1);
    EXPECT_TRUE(settings.ReadBool("Keyer", "KEPot", true));
    EXPECT_FALSE(settings.ReadBool("Box", "LogToFile", false));
}

TEST_F(SettingsStoreTest, PresentButEmptyIsNotMissing) {
    Seed("[Keyer]\nPort=\nKEPot=\n");
    EXPECT_EQ(settings.ReadInt("Keyer", "Port", -1), 0);  // selects index 0, not nothing
    EXPECT_FALSE(settings.ReadBool("Keyer", "KEPot", true));
}

TEST_F(SettingsStoreTest, BooleansReadTrueOnlyForAnUpperCaseT) {
    Seed("[Keyer]\nSmartEditing=true\nLoggerControls=Tx\nVerbose=1\n");
    EXPECT_FALSE(settings.ReadBool("Keyer", "SmartEditing", true));
    EXPECT_TRUE(settings.ReadBool("Keyer", "LoggerControls", false));
    EXPECT_FALSE(settings.ReadBool("Keyer", "Verbose", true));
}

TEST_F(SettingsStoreTest, IntegersReadLikeTheUsualDecimalConversion) {
    Seed("[Keyer]\nKEMode=65535\nKEPins=  -12abc\nPort=*7\nA=123456789012\nB=x5\n");
    EXPECT_EQ(settings.ReadInt("Keyer", "KEMode", 65535), 65535);
    EXPECT_EQ(settings.ReadInt("Keyer", "KEPins", 0), -12);
    EXPECT_EQ(settings.ReadInt("Keyer", "Port", -1), -1);  // a leading "*" reads as missing
    EXPECT_EQ(settings.ReadInt("Keyer", "A", 0), 123456789);  // only 9 characters are seen
    EXPECT_EQ(settings.ReadInt("Keyer", "B", 4), 0);
}

TEST_F(SettingsStoreTest, WritesAreImmediateAndReadBack) {
    settings.WriteBool("Zuvo", "SplitStereo", true);
    settings.WriteInt("Keyer", "KEMode", -3);
    EXPECT_TRUE(settings.ReadBool("Zuvo", "SplitStereo", false));
    EXPECT_EQ(settings.ReadInt("Keyer", "KEMode", 65535), -3);
    const auto text = profile.Text(settings.Path());
    ASSERT_TRUE(text.has_value());
    EXPECT_NE(text->find("SplitStereo=TRUE"), std::string::npos);
    settings.WriteBool("Zuvo", "SplitStereo", false);
    EXPECT_NE(profile.Text(settings.Path())->find("SplitStereo=FALSE"), std::string::npos);
}

TEST_F(SettingsStoreTest, UnwritableFileIsIgnored) {
    profile.SetUnwritable(settings.Path());
    settings.WriteBool("Zuvo", "Auto", true);  // no crash, nothing reported
    EXPECT_FALSE(settings.ReadBool("Zuvo", "Auto", false));
}

}  // namespace
}  // namespace zuvo
