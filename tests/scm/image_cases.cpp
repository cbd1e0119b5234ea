// What the built executable tells about itself through Windows.
#include "folder.h"
#include "harness.h"

#include <stdio.h>
#include <vector>

namespace {

std::string versionString(const std::vector<char>& block, const char* name)
{
    void* value = NULL;
    UINT length = 0;
    std::string path = std::string("\\StringFileInfo\\040904B0\\") + name;
    if (!VerQueryValueA(block.data(), path.c_str(), &value, &length) || length == 0) {
        return "(missing)";
    }
    return std::string(static_cast<const char*>(value), length - 1);
}

} // namespace

SCM_CASE(VersionResourceNamesTheProductAndItsVersion)
{
    std::string exe = folderOfThisProgram() + "\\svclaunch.exe";
    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeA(exe.c_str(), &ignored);
    REQUIRE(size > 0);
    std::vector<char> block(size);
    REQUIRE(GetFileVersionInfoA(exe.c_str(), 0, size, block.data()));

    CHECK_EQ(versionString(block, "FileVersion"), SVCLAUNCH_EXPECTED_VERSION);
    CHECK_EQ(versionString(block, "ProductVersion"), SVCLAUNCH_EXPECTED_VERSION);
    CHECK_EQ(versionString(block, "ProductName"), "svclaunch");
    CHECK_EQ(versionString(block, "OriginalFilename"), "svclaunch.exe");
    CHECK_EQ(versionString(block, "FileDescription"),
             "svclaunch: runs a program with the machine, as a Windows service");
    CHECK(versionString(block, "LegalCopyright").find("svclaunch developers") != std::string::npos);

    VS_FIXEDFILEINFO* fixed = NULL;
    UINT length = 0;
    REQUIRE(VerQueryValueA(block.data(), "\\", reinterpret_cast<void**>(&fixed), &length) && fixed != NULL);
    char numbers[64];
    snprintf(numbers, sizeof numbers, "%lu.%lu.%lu", static_cast<unsigned long>(HIWORD(fixed->dwFileVersionMS)),
             static_cast<unsigned long>(LOWORD(fixed->dwFileVersionMS)),
             static_cast<unsigned long>(HIWORD(fixed->dwFileVersionLS)));
    CHECK_EQ(std::string(numbers), SVCLAUNCH_EXPECTED_VERSION);
}
