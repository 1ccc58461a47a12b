// What only the Linux platform layer decides: which files it can start.
// Files the test writes are asked about through the system's own table; the
// fault table stands in for what the kernel shows of itself (whether it
// runs 32-bit x86 programs, the handlers of binfmt_misc).
#include "platform/calls.h"
#include "platform/platform.h"

#include "temp_dir.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <elf.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <string>

namespace {

const char* const HANDLERS = "/proc/sys/fs/binfmt_misc/";

// What the system shows of itself to the case that runs, and whether a
// file was opened in a way that could wait.
bool runs_32_bit_x86 = true;
std::string handlers_dir; // where the handlers are shown
bool opened_blocking = false;

int shown_access(const char* path, int mode)
{
    if (strcmp(path, "/proc/sys/abi/vsyscall32") != 0)
        return ((decltype(&::access))platform_calls[CALL_access].original)(path, mode);
    errno = ENOENT;
    return runs_32_bit_x86 ? 0 : -1;
}

std::string shown(const char* path)
{
    return strncmp(path, HANDLERS, strlen(HANDLERS)) == 0 ? handlers_dir + (path + strlen(HANDLERS)) : path;
}

int shown_open(const char* path, int flags, ...)
{
    if (!(flags & O_NONBLOCK) && (flags & O_ACCMODE) == O_RDONLY) {
        opened_blocking = true;
        errno = ENXIO;
        return -1;
    }
    return ((decltype(&::open))platform_calls[CALL_open].original)(shown(path).c_str(), flags);
}

DIR* shown_opendir(const char* path)
{
    return ((decltype(&::opendir))platform_calls[CALL_opendir].original)(shown(path).c_str());
}

// An ELF program's head: the header (of the width, machine and type given,
// in this machine's byte order) and one program header, PT_INTERP with the
// interpreter's name after it when there is one.
template <typename Header, typename Program>
std::string elf_of(unsigned char width, unsigned machine, const std::string& interpreter, unsigned type)
{
    struct {
        Header e;
        Program p;
    } h = {};
    memcpy(h.e.e_ident, ELFMAG, SELFMAG);
    h.e.e_ident[EI_CLASS] = width;
    h.e.e_ident[EI_DATA] = __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__ ? ELFDATA2LSB : ELFDATA2MSB;
    h.e.e_ident[EI_VERSION] = EV_CURRENT;
    h.e.e_type = (decltype(h.e.e_type))type;
    h.e.e_machine = (decltype(h.e.e_machine))machine;
    h.e.e_phoff = sizeof h.e;
    h.e.e_phentsize = sizeof h.p;
    h.e.e_phnum = 1;
    h.p.p_type = interpreter.empty() ? PT_NULL : PT_INTERP;
    h.p.p_offset = sizeof h;
    h.p.p_filesz = interpreter.size() + 1;
    static_assert(sizeof h == sizeof(Header) + sizeof(Program), "no padding between the headers");
    return std::string((const char*)&h, sizeof h) + interpreter + std::string(1, '\0');
}

std::string elf(unsigned char width, unsigned machine, const std::string& interpreter = "", unsigned type = ET_EXEC)
{
    return width == ELFCLASS64 ? elf_of<Elf64_Ehdr, Elf64_Phdr>(width, machine, interpreter, type)
                               : elf_of<Elf32_Ehdr, Elf32_Phdr>(width, machine, interpreter, type);
}

// A handler of binfmt_misc for the first 20 bytes of head (its type's last
// bit left out, as handlers for programs and shared objects do).
std::string handler_for(const std::string& head, const char* state)
{
    std::string text = std::string(state) + "\ninterpreter /usr/bin/emulator\nflags: F\noffset 0\nmagic ";
    char hex[3];
    for (size_t i = 0; i < 20; i++) {
        snprintf(hex, sizeof hex, "%02x", (unsigned char)head[i]);
        text += hex;
    }
    return text + "\nmask " + std::string(32, 'f') + "feff" + "ffff\n";
}

void write_file(const std::string& path, const std::string& bytes, mode_t mode)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
    chmod(path.c_str(), mode);
}

std::string with_dir(std::string text, const std::string& dir)
{
    for (size_t at; (at = text.find("$D")) != std::string::npos;)
        text.replace(at, 2, dir);
    return text;
}

// The kernel's own loaders start an ELF program of its processor, and a "#!"
// script whose interpreter is one, each interpreter a regular file this user
// may run (a FIFO is refused, never waited on); a handler of binfmt_misc
// that is switched on may claim what they refuse. Anything else, a missing
// file and a directory are told apart by their reasons.
TEST(PlatformPosix, ProgramsThisSystemCanStart)
{
    const std::string dir = temp_dir_make();
    ASSERT_FALSE(dir.empty());
    char self[20] = {};
    std::ifstream("/proc/self/exe", std::ios::binary).read(self, sizeof self);
    const unsigned char width = (unsigned char)self[EI_CLASS];
    uint16_t own_machine = 0;
    memcpy(&own_machine, self + 18, sizeof own_machine); // in this machine's byte order
    const unsigned machine = own_machine;
    const unsigned other = machine == EM_AARCH64 ? EM_X86_64 : EM_AARCH64;
    const bool x86_64 = machine == EM_X86_64 && width == ELFCLASS64;
    const std::string foreign = elf(width, other, dir + "missing"), program = dir + "zarnivek1.exe";
    const char* const NO = "it is no program this system can start";
    const char* const OTHER = "it is a program for another kind of processor";
    std::string unended = elf(width, machine, dir + "ld"), odd = unended;
    // Its interpreter's name counted without its zero; its program headers' size one more.
    unended[width == ELFCLASS64 ? sizeof(Elf64_Ehdr) + offsetof(Elf64_Phdr, p_filesz)
                                : sizeof(Elf32_Ehdr) + offsetof(Elf32_Phdr, p_filesz)]--;
    odd[width == ELFCLASS64 ? offsetof(Elf64_Ehdr, e_phentsize) : offsetof(Elf32_Ehdr, e_phentsize)]++;

    // The interpreters and scripts the cases name.
    write_file(dir + "ld", elf(width, machine, "", ET_DYN), 0755);
    write_file(dir + "ld-other", foreign, 0755);
    write_file(dir + "ld-unrunnable", elf(width, machine, "", ET_DYN), 0644);
    ASSERT_EQ(mkfifo((dir + "fifo").c_str(), 0755), 0);
    ASSERT_EQ(chmod((dir + "fifo").c_str(), 0755), 0);
    write_file(dir + "script0", "#!" + dir + "ld\n", 0755);
    for (int i = 1; i < 5; i++)
        write_file(dir + "script" + std::to_string(i), "#!" + dir + "script" + std::to_string(i - 1) + "\n", 0755);
    ASSERT_EQ(mkdir((dir + "binfmt").c_str(), 0755), 0);

    const struct {
        const char* name;
        std::string bytes; // the program file's
        std::string why;   // "": it starts
        std::string handler = ""; // the one handler shown ("": binfmt_misc shows none)
        bool x86_only = false;    // a case of the two widths of x86
        bool runs_32_bit = true;
        std::string path = "";    // asked instead of the program file
        mode_t mode = 0755;
    } cases[] = {
        {"this processor, no interpreter", elf(width, machine), ""},
        {"its interpreter there", elf(width, machine, dir + "ld"), ""},
        {"its interpreter missing", elf(width, machine, dir + "missing"),
         "its interpreter $Dmissing cannot be started: No such file or directory"},
        {"its interpreter a FIFO", elf(width, machine, dir + "fifo"),
         "its interpreter $Dfifo cannot be started: Permission denied"},
        // The reason stays whole: the name is cut to the 98 bytes left of 159.
        {"its interpreter missing, its name long", elf(width, machine, dir + std::string(150, 'l')),
         "its interpreter " + (dir + std::string(150, 'l')).substr(0, 98) +
             " cannot be started: No such file or directory"},
        {"its interpreter for another processor", elf(width, machine, dir + "ld-other"),
         "its interpreter $Dld-other cannot be started: " + std::string(OTHER)},
        {"its interpreter a script", elf(width, machine, dir + "script0"),
         "its interpreter $Dscript0 cannot be started: " + std::string(NO)},
        {"its interpreter's name without its end", unended, NO},
        {"program headers of another size", odd, NO},
        {"a relocatable object", elf(width, machine, "", ET_REL), NO},
        {"another processor", foreign, OTHER},
        {"another processor, claimed by a handler", foreign, "", handler_for(foreign, "enabled")},
        {"another processor, its handler switched off", foreign, OTHER, handler_for(foreign, "disabled")},
        {"another processor, its handler's mask cut short", foreign, OTHER,
         handler_for(foreign, "enabled").substr(0, handler_for(foreign, "enabled").size() - 3) + "\n"},
        {"a handler whose magic is no hex", "\xff\xfe", NO, "enabled\noffset 0\nmagic zz\n"},
        {"32-bit x86, the kernel runs both widths", elf(ELFCLASS32, EM_386), "", "", true},
        {"32-bit x86, the kernel runs 64-bit programs alone", elf(ELFCLASS32, EM_386),
         "it is a 32-bit program, and this system starts none", "", true, false},
        {"32-bit x86, its interpreter 64-bit", elf(ELFCLASS32, EM_386, dir + "ld"),
         "its interpreter $Dld cannot be started: " + std::string(OTHER), "", true},
        {"a script, its interpreter there", "#! " + dir + "ld -x\necho\n", ""},
        {"a script, its interpreter a FIFO", "#!" + dir + "fifo\n",
         "its interpreter $Dfifo cannot be started: Permission denied"},
        {"a script, its interpreter not executable", "#!" + dir + "ld-unrunnable\n",
         "its interpreter $Dld-unrunnable cannot be started: Permission denied"},
        {"a script, its interpreter missing", "#!" + dir + "missing\n",
         "its interpreter $Dmissing cannot be started: No such file or directory"},
        {"a script, its interpreter's name longer than a path", "#!/" + std::string(PATH_MAX, 'a') + "\n",
         "File name too long"},
        {"five scripts", "#!" + dir + "script3\n", ""},
        {"six scripts", "#!" + dir + "script4\n", "Too many levels of symbolic links"},
        {"an HTML file", "<!DOCTYPE html>\n<html></html>\n", NO},
        {"an empty file", "", NO},
        {"a Windows program", std::string("MZ\x90\0", 4), NO},
        {"a Windows program, claimed by its extension", std::string("MZ\x90\0", 4), "",
         "enabled\ninterpreter /usr/bin/wine\nflags: \nextension .exe\n"},
        {"not executable", elf(width, machine), "Permission denied", "", false, true, "", 0644},
        {"a directory", "", "Permission denied", "", false, true, dir},
        {"a missing file", "", "No such file or directory", "", false, true, dir + "none.exe"},
    };
    handlers_dir = dir + "binfmt/";
    platform_calls[CALL_access].current = (SystemCallPtr)&shown_access;
    platform_calls[CALL_open].current = (SystemCallPtr)&shown_open;
    platform_calls[CALL_opendir].current = (SystemCallPtr)&shown_opendir;
    for (const auto& c : cases) {
        if (c.x86_only && !x86_64)
            continue;
        SCOPED_TRACE(c.name);
        runs_32_bit_x86 = c.runs_32_bit;
        opened_blocking = false;
        if (c.path.empty())
            write_file(program, c.bytes, c.mode);
        write_file(handlers_dir + "status", "enabled\n", 0644);
        write_file(handlers_dir + "emulator", c.handler, 0644);
        if (c.handler.empty()) { // binfmt_misc not mounted
            temp_remove_file(handlers_dir + "status");
            temp_remove_file(handlers_dir + "emulator");
        }
        char why[REASON_CAP] = "";
        EXPECT_EQ(platform_os.can_run(c.path.empty() ? program.c_str() : c.path.c_str(), why, sizeof why),
                  c.why.empty());
        EXPECT_EQ(why, with_dir(c.why, dir));
        EXPECT_FALSE(opened_blocking);
    }
    for (size_t row : {CALL_access, CALL_open, CALL_opendir})
        platform_calls[row].current = platform_calls[row].original;
    for (const char* name : {"zarnivek1.exe", "ld", "ld-other", "ld-unrunnable", "fifo", "script0", "script1",
                             "script2", "script3", "script4"})
        temp_remove_file(dir + name);
    temp_remove_dir(dir + "binfmt");
    temp_remove_dir(dir);
}

} // namespace
