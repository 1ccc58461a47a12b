// What only the Windows platform layer decides: which TZ the C runtime
// reads as asked, and which files it can start (the fault table stands in
// for what a system shows of its processor).
#include "platform/calls.h"
#include "platform/platform.h"

#include "temp_dir.h"

#include <gtest/gtest.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <string>
#include <windows.h>

namespace {

// The C runtime reads TZ as three letters, the hours west of UTC and a
// daylight-saving name, to which it applies the United States' dates.
TEST(PlatformWin32, TimeZonesTheCRuntimeReadsAsAsked)
{
    const char* const UNREADABLE = "is no time zone the C runtime can read";
    const char* const US_DATES = "changes its clock on the United States' daylight-saving dates";
    const struct {
        const char* tz; // "": no TZ
        const char* problem; // a part of the reason; nullptr: none
    } cases[] = {
        {"", nullptr}, {"UTC", nullptr}, {"GMT0", nullptr}, {"JST-9", nullptr}, {"EST5EDT", nullptr},
        {"CET-1CEST", US_DATES}, {"GMT0BST", US_DATES},
        {"CET", UNREADABLE}, {"Europe/Berlin", UNREADABLE}, {"JST-9x1", UNREADABLE},
    };
    for (const auto& c : cases) {
        _putenv_s("TZ", c.tz);
        char why[REASON_CAP] = "";
        EXPECT_EQ(platform_os.zone_problem(why, sizeof why), c.problem != nullptr) << c.tz;
        if (c.problem) {
            EXPECT_NE(std::string(why).find(c.problem), std::string::npos) << c.tz << ": " << why;
        }
    }
    _putenv_s("TZ", "");
}

// "MZ", then zeros up to the header's offset at 0x3C, the offset, and tail.
std::string program_head(unsigned long pe_offset, const std::string& tail)
{
    std::string bytes = "MZ" + std::string(0x3A, '\0');
    for (int i = 0; i < 4; i++)
        bytes += (char)(pe_offset >> (8 * i) & 0xFF);
    return bytes + tail;
}

// A PE header: "PE\0\0" and the file header of the machine and flags given.
std::string pe_header(WORD machine, WORD flags = IMAGE_FILE_EXECUTABLE_IMAGE)
{
    IMAGE_FILE_HEADER header = {};
    header.Machine = machine;
    header.Characteristics = flags;
    return std::string("PE\0\0", 4) + std::string((const char*)&header, sizeof header);
}

#ifdef _WIN64
const WORD OWN_MACHINE = IMAGE_FILE_MACHINE_AMD64;
#else
const WORD OWN_MACHINE = IMAGE_FILE_MACHINE_I386;
#endif

// What the fault table shows of the system to the case that runs: its
// processor (0: the system's own answers throughout), whether
// IsWow64Process2 is there to say so (else GetNativeSystemInfo says it),
// and its part for 32-bit x86 programs.
enum X86Part { PART_THERE, PART_WITHOUT_KERNEL32, PART_NOT_IMPLEMENTED, PART_UNTOLD };
WORD shown_native = 0;
bool shown_lookup = true;
X86Part shown_part = PART_THERE;
std::wstring part_there, part_without_kernel32;

BOOL WINAPI shown_wow64_process2(HANDLE, USHORT* process, USHORT* native)
{
    *process = 0;
    *native = shown_native;
    return TRUE;
}

FARPROC WINAPI shown_proc_address(HMODULE module, LPCSTR name)
{
    if (shown_native == 0 || strcmp(name, "IsWow64Process2") != 0)
        return ((decltype(&::GetProcAddress))platform_calls[CALL_GetProcAddress].original)(module, name);
    SetLastError(ERROR_PROC_NOT_FOUND);
    return shown_lookup ? (FARPROC)(void*)&shown_wow64_process2 : nullptr;
}

// Where IsWow64Process2 is there, GetNativeSystemInfo shows an emulated
// program the machine it emulates: the one of this system here.
void WINAPI shown_native_info(LPSYSTEM_INFO info)
{
    ((decltype(&::GetNativeSystemInfo))platform_calls[CALL_GetNativeSystemInfo].original)(info);
    if (shown_lookup)
        return;
    const WORD ARCHITECTURE[][2] = {{IMAGE_FILE_MACHINE_I386, PROCESSOR_ARCHITECTURE_INTEL},
                                    {IMAGE_FILE_MACHINE_AMD64, PROCESSOR_ARCHITECTURE_AMD64},
                                    {IMAGE_FILE_MACHINE_ARM64, PROCESSOR_ARCHITECTURE_ARM64}};
    for (const auto& a : ARCHITECTURE)
        if (a[0] == shown_native)
            info->wProcessorArchitecture = a[1];
}

UINT WINAPI shown_wow64_directory(LPWSTR out, UINT cap)
{
    if (shown_native == 0)
        return ((decltype(&::GetSystemWow64DirectoryW))platform_calls[CALL_GetSystemWow64DirectoryW].original)(out, cap);
    const std::wstring& dir = shown_part == PART_THERE ? part_there : part_without_kernel32;
    SetLastError(shown_part == PART_NOT_IMPLEMENTED ? ERROR_CALL_NOT_IMPLEMENTED : ERROR_NOT_ENOUGH_MEMORY);
    if (shown_part == PART_NOT_IMPLEMENTED || shown_part == PART_UNTOLD || dir.size() >= cap)
        return 0;
    memcpy(out, dir.c_str(), (dir.size() + 1) * sizeof(wchar_t));
    return (UINT)dir.size();
}

std::wstring wide(const std::string& path)
{
    wchar_t w[MAX_PATH];
    int n = MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, w, MAX_PATH);
    return n > 0 ? std::wstring(w) : std::wstring();
}

// A program file begins "MZ" and names its PE header, which the check reads
// within the first 4096 bytes, never outside them, whatever offset the file
// gives; a stub of four bytes, a DLL or a directory is no program. A program
// for another machine is one when the system runs it: its own, a 64-bit
// x86 one the 32-bit x86 programs where it has its part for them, an ARM64
// one the x86 and 32-bit ARM ones too.
TEST(PlatformWin32, ProgramsThisSystemCanStart)
{
    const std::string dir = temp_dir_make();
    ASSERT_FALSE(dir.empty());
    const std::string file = dir + "zarnivek5.exe", there = dir + "x86", without = dir + "none";
    const char* const NO = "it is no program this system can start";
    const char* const OTHER = "it is a program for another kind of processor";
    const char* const NO_32 = "it is a 32-bit program, and this system starts none";
    const char* const NO_64 = "it is a 64-bit program, and this system starts none";
    const WORD I386 = IMAGE_FILE_MACHINE_I386, AMD64 = IMAGE_FILE_MACHINE_AMD64, ARM64 = IMAGE_FILE_MACHINE_ARM64;
    const std::string own = program_head(0x40, pe_header(OWN_MACHINE));
    char self[MAX_PATH];
    ASSERT_GT(GetModuleFileNameA(nullptr, self, sizeof self), 0u);
    ASSERT_TRUE(CreateDirectoryA(there.c_str(), nullptr) && CreateDirectoryA(without.c_str(), nullptr));
    FILE* kernel32 = fopen((there + "\\kernel32.dll").c_str(), "wb");
    ASSERT_TRUE(kernel32 && fclose(kernel32) == 0);
    part_there = wide(there);
    part_without_kernel32 = wide(without);
    enum Build { ANY, ONLY_32, ONLY_64 }; // the builds a case is made in (a 64-bit program runs on no 32-bit system)
    const struct {
        const char* name;
        std::string bytes;  // written to file; "": the path itself
        std::string path;
        const char* why;    // nullptr: a program
        WORD native = 0;    // the system's processor, as shown; 0: its own
        Build build = ANY;
        X86Part part = PART_THERE;
        bool lookup = true;
    } cases[] = {
        {"this test", "", self, nullptr},
        {"a directory", "", dir, "it is a directory"},
        {"header right after the offset", own, file, nullptr},
        {"a stub of four bytes", std::string("MZ\x90\0", 4), file, NO},
        {"header past what was read", program_head(0x1000, pe_header(OWN_MACHINE)), file, NO},
        {"offset that wraps round, 4 below 2^32", program_head(0xFFFFFFFC, pe_header(OWN_MACHINE)), file, NO},
        {"offset that wraps round, 2 below 2^32", program_head(0xFFFFFFFE, pe_header(OWN_MACHINE)), file, NO},
        {"header cut short", program_head(0x40, "PE"), file, NO},
        {"file header cut short", own.substr(0, own.size() - 1), file, NO},
        {"no MZ", "ZM" + own.substr(2), file, NO},
        {"a DLL", program_head(0x40, pe_header(OWN_MACHINE, IMAGE_FILE_EXECUTABLE_IMAGE | IMAGE_FILE_DLL)), file, NO},
        {"ARM64, on this system", program_head(0x40, pe_header(ARM64)), file, OTHER},
        {"x86, on x64", program_head(0x40, pe_header(I386)), file, nullptr, AMD64},
        {"x86, on x64 with no kernel32.dll for it", program_head(0x40, pe_header(I386)), file, NO_32, AMD64, ONLY_64,
         PART_WITHOUT_KERNEL32},
        {"x86, on x64 with no directory for it", program_head(0x40, pe_header(I386)), file, NO_32, AMD64, ONLY_64,
         PART_NOT_IMPLEMENTED},
        {"x86, on x64 that cannot say", program_head(0x40, pe_header(I386)), file, nullptr, AMD64, ONLY_64,
         PART_UNTOLD},
        {"x64, on x64", program_head(0x40, pe_header(AMD64)), file, nullptr, AMD64},
        {"ARM64, on x64", program_head(0x40, pe_header(ARM64)), file, OTHER, AMD64},
        {"Itanium, on x64", program_head(0x40, pe_header(IMAGE_FILE_MACHINE_IA64)), file, OTHER, AMD64},
        {"x64, on x86", program_head(0x40, pe_header(AMD64)), file, NO_64, I386, ONLY_32},
        {"ARM64, on x86", program_head(0x40, pe_header(ARM64)), file, OTHER, I386, ONLY_32},
        {"ARM64, on ARM64", program_head(0x40, pe_header(ARM64)), file, nullptr, ARM64},
        {"x64, on ARM64", program_head(0x40, pe_header(AMD64)), file, nullptr, ARM64},
        {"x86, on ARM64", program_head(0x40, pe_header(I386)), file, nullptr, ARM64},
        {"ARM, on ARM64", program_head(0x40, pe_header(IMAGE_FILE_MACHINE_ARMNT)), file, nullptr, ARM64},
        // No IsWow64Process2, as before Windows 10: GetNativeSystemInfo says.
        {"x64, on x86 without IsWow64Process2", program_head(0x40, pe_header(AMD64)), file, NO_64, I386, ONLY_32,
         PART_THERE, false},
        {"ARM64, on ARM64 without IsWow64Process2", program_head(0x40, pe_header(ARM64)), file, nullptr, ARM64, ANY,
         PART_THERE, false},
    };
    platform_calls[CALL_GetProcAddress].current = (SystemCallPtr)&shown_proc_address;
    platform_calls[CALL_GetNativeSystemInfo].current = (SystemCallPtr)&shown_native_info;
    platform_calls[CALL_GetSystemWow64DirectoryW].current = (SystemCallPtr)&shown_wow64_directory;
    for (const auto& c : cases) {
        if (c.build == (OWN_MACHINE == I386 ? ONLY_64 : ONLY_32))
            continue;
        SCOPED_TRACE(c.name);
        if (!c.bytes.empty()) {
            FILE* f = fopen(c.path.c_str(), "wb");
            ASSERT_TRUE(f);
            ASSERT_EQ(fwrite(c.bytes.data(), 1, c.bytes.size(), f), c.bytes.size());
            ASSERT_EQ(fclose(f), 0);
        }
        shown_native = c.native;
        shown_part = c.part;
        shown_lookup = c.lookup;
        char why[REASON_CAP] = "";
        EXPECT_EQ(platform_os.can_run(c.path.c_str(), why, sizeof why), c.why == nullptr);
        EXPECT_STREQ(why, c.why ? c.why : "");
    }
    for (size_t row : {CALL_GetProcAddress, CALL_GetNativeSystemInfo, CALL_GetSystemWow64DirectoryW})
        platform_calls[row].current = platform_calls[row].original;
    char why[REASON_CAP] = "";
    EXPECT_FALSE(platform_os.can_run((dir + "missing.exe").c_str(), why, sizeof why));
    EXPECT_NE(why[0], '\0');
    temp_remove_file(file);
    temp_remove_file(there + "\\kernel32.dll");
    temp_remove_dir(there);
    temp_remove_dir(without);
    temp_remove_dir(dir);
}

} // namespace
