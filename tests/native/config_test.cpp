#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

#include "app/config.h"
#include "temp_path.h"

namespace {

struct IniCase {
    const char* name;
    std::string bytes;
    const char* device;
    const char* version;
};

const IniCase kIniCases[] = {
    {"key, spaced equals, trailing spaces, CR LF", "Device = PLC-317   \r\nVersion = 2.4  \r\n",
     "PLC-317", "2.4"},
    {"value holding equals signs", "a=b=c\nv==2=\n", "b=c", "=2="},
    {"line without equals stays whole", "  PLC 318 \r\nno key\n", "PLC 318", "no key"},
    {"lone equals and empty line", "=\n\n", "", ""},
    {"tabs are kept, spaces are not", "d= \tPLC\t \nv=\t1\n", "\tPLC\t", "\t1"},
    {"carriage return inside a line joins the text", "d=PL\rC\nv=1.\r0\r\n", "PLC", "1.0"},
    {"last line without line feed", "d=A\nv=B", "A", "B"},
    {"one line leaves the version empty", "d=Only\n", "Only", ""},
    {"empty file", "", "", ""},
    {"third and later lines have no effect", "d=A\nv=B\nd=C\nv=D\n", "A", "B"},
    {"only spaces", "d=    \nv=  \r\n", "", ""},
    {"bytes stay unconverted", "d=\xcf\xcb\xca\nv=\xff\n", "\xcf\xcb\xca", "\xff"},
};

void PrintTo(const IniCase& c, std::ostream* os) {
    *os << c.name;
}

class IniParse : public ::testing::TestWithParam<IniCase> {};

TEST_P(IniParse, YieldsDeviceAndVersion) {
    const IniCase& c = GetParam();
    PlcConfig config = ParsePlcIni(c.bytes);
    EXPECT_EQ(config.device, c.device) << c.name;
    EXPECT_EQ(config.version, c.version) << c.name;
}

INSTANTIATE_TEST_SUITE_P(Cases, IniParse, ::testing::ValuesIn(kIniCases),
                         [](const ::testing::TestParamInfo<IniCase>& param) {
                             return "case" + std::to_string(param.index);
                         });

TEST(IniFile, ReadsTheFileAndReportsAMissingOne) {
    const std::string path = UniqueTempPath("plc_test.ini");
    {
        std::ofstream out(path, std::ios::binary);
        out << "Device = PLC-318 \r\nVersion=3.1\r\nignored\n";
    }
    PlcConfig config;
    ASSERT_TRUE(ReadPlcIni(path, &config));
    EXPECT_EQ(config.device, "PLC-318");
    EXPECT_EQ(config.version, "3.1");
    std::remove(path.c_str());
    EXPECT_FALSE(ReadPlcIni(path, &config));
}

}  // namespace
