// Whether a file is a program this system can start, told as the kernel
// would tell it when asked to run it, without starting anything and without
// ever waiting: the file's head is read (a FIFO is never opened for reading,
// it is refused as the kernel refuses it), and so is the head of each
// interpreter it names. The kernel's own loaders start an ELF program of its
// processor, and a "#!" script whose interpreter is one; what they refuse a
// handler of binfmt_misc may claim. Every system call goes through the fault
// table (SYS, platform/calls.h).
#include "platform/calls.h"
#include "platform/posix.h"

#include <elf.h>
#include <errno.h>
#include <limits.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

// The running program's own ELF header, where the linker maps it.
extern "C" const char __ehdr_start[] // NOLINT(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp): its name
    __attribute__((visibility("hidden")));

namespace {

// The head read of each file: a "#!" line of a name up to PATH_MAX bytes,
// and for an ELF file its program headers and the interpreter's name, which
// lie near the start; what lies past the head is not looked at.
const size_t HEAD_CAP = PATH_MAX + 3;
// The kernel follows a "#!" script's interpreter that is a script again, up
// to five scripts; the sixth is a loop to it (ELOOP).
const int SCRIPTS_MAX = 5;
// A 64-bit kernel shows this only when it runs 32-bit x86 programs too.
const char X86_32_SUPPORT[] = "/proc/sys/abi/vsyscall32";
const char HANDLERS[] = "/proc/sys/fs/binfmt_misc/";
// A handler's text: its state, program, flags, and magic and mask of at
// most 128 bytes each, in hex.
const size_t HANDLER_TEXT_CAP = 1024;

// What the ELF loader compares with its own: the width, the byte order and
// the processor.
struct ElfKind {
    unsigned char width; // ELFCLASS32 or ELFCLASS64
    unsigned char order; // ELFDATA2LSB or ELFDATA2MSB
    unsigned machine;    // EM_X86_64, EM_AARCH64, ...
};

// Why a file cannot be started.
enum Refusal {
    STARTS,          // it can be
    SYSTEM_ERROR,    // an error number of the system's says why
    NO_PROGRAM,      // no loader takes it
    OTHER_PROCESSOR, // an ELF program for a processor this system does not run
    OTHER_WIDTH,     // an ELF program of this processor's other width, which this kernel does not run
};

struct Verdict {
    Refusal refusal;
    int err;             // for SYSTEM_ERROR
    unsigned char width; // for OTHER_WIDTH
};

// The unsigned number of size bytes (at most 8) at p, in the byte order order.
uint64_t number(const char* p, int size, unsigned char order)
{
    uint64_t value = 0;
    for (int i = 0; i < size; i++)
        value |= (uint64_t)(unsigned char)p[order == ELFDATA2MSB ? size - 1 - i : i] << (8 * i);
    return value;
}

// The kind of the ELF header at h (its first 20 bytes at least).
ElfKind kind_of(const char* h)
{
    auto order = (unsigned char)h[EI_DATA];
    return {(unsigned char)h[EI_CLASS], order, (unsigned)number(h + 18, 2, order)};
}

bool same_kind(const ElfKind& a, const ElfKind& b)
{
    return a.width == b.width && a.order == b.order && a.machine == b.machine;
}

// True when a and b are the two widths of one processor family: one of them
// 64-bit of machine m64, the other 32-bit of machine m32, in one byte order.
bool widths_of(const ElfKind& a, const ElfKind& b, unsigned m64, unsigned m32)
{
    auto is = [](const ElfKind& k, unsigned char width, unsigned m) { return k.width == width && k.machine == m; };
    return a.order == b.order && ((is(a, ELFCLASS64, m64) && is(b, ELFCLASS32, m32)) ||
                                  (is(a, ELFCLASS32, m32) && is(b, ELFCLASS64, m64)));
}

// Whether the kernel starts ELF programs of kind k: those of the running
// program's kind; on x86 those of the other width when the kernel shows it
// runs both; on ARM those of the other width always, as nothing tells
// whether a 64-bit ARM kernel runs 32-bit programs without running one.
Verdict kernel_takes(const ElfKind& k)
{
    const ElfKind own = kind_of(__ehdr_start);
    bool x86 = widths_of(k, own, EM_X86_64, EM_386);
    if (same_kind(k, own) || widths_of(k, own, EM_AARCH64, EM_ARM) || (x86 && SYS(access)(X86_32_SUPPORT, F_OK) == 0))
        return {STARTS, 0, 0};
    return {x86 ? OTHER_WIDTH : OTHER_PROCESSOR, 0, k.width};
}

// Finds the PT_INTERP header among the count program headers of entry_size
// bytes at at in head (n bytes) of the given width and byte order, as the
// kernel's loader does: *interpreter gets the name it holds, or null when
// there is none, or when the headers or the name lie past the head. False
// for a name longer than PATH_MAX bytes or one without its terminating zero.
bool find_interpreter(const char* head, size_t n, bool wide, unsigned char order, uint64_t at, uint64_t count,
                      uint64_t entry_size, const char** interpreter)
{
    *interpreter = nullptr;
    for (uint64_t i = 0; i < count && at <= n && n - at >= entry_size; i++, at += entry_size) {
        const char* h = head + at;
        if (number(h, 4, order) != PT_INTERP)
            continue;
        uint64_t offset = wide ? number(h + 8, 8, order) : number(h + 4, 4, order);
        uint64_t size = wide ? number(h + 32, 8, order) : number(h + 16, 4, order);
        if (size > PATH_MAX || (offset <= n && n - offset >= size && size > 0 && head[offset + size - 1] != '\0'))
            return false;
        *interpreter = offset <= n && n - offset >= size ? head + offset : nullptr;
        return true; // the first one counts
    }
    return true;
}

// Reads the ELF header in head (n bytes) as the kernel's loader does: false
// when it takes no such file (no ELF file, no width or byte order it knows,
// neither a program nor a shared object, program headers of another size,
// its interpreter's name refused). *kind gets the file's kind; *interpreter
// the name of its interpreter, or null (see find_interpreter).
bool read_elf(const char* head, size_t n, ElfKind* kind, const char** interpreter)
{
    *interpreter = nullptr;
    *kind = kind_of(head);
    bool wide = kind->width == ELFCLASS64;
    unsigned char order = kind->order;
    size_t header_size = wide ? sizeof(Elf64_Ehdr) : sizeof(Elf32_Ehdr);
    if (n < header_size || memcmp(head, ELFMAG, SELFMAG) != 0 || (kind->width != ELFCLASS32 && !wide) ||
        (order != ELFDATA2LSB && order != ELFDATA2MSB))
        return false;
    uint64_t type = number(head + 16, 2, order);
    uint64_t entry_size = number(head + (wide ? 54 : 42), 2, order);
    if ((type != ET_EXEC && type != ET_DYN) || entry_size != (wide ? sizeof(Elf64_Phdr) : sizeof(Elf32_Phdr)))
        return false;
    return find_interpreter(head, n, wide, order, wide ? number(head + 32, 8, order) : number(head + 28, 4, order),
                            number(head + (wide ? 56 : 44), 2, order), entry_size, interpreter);
}

// Reads the head of the regular file path into buf (capacity cap), zero
// after what was read, its length into *n: 0, or the error number (EACCES
// for a file that is not regular, as the kernel says of it).
int read_head(const char* path, char* buf, size_t cap, size_t* n)
{
    memset(buf, 0, cap);
    *n = 0;
    // O_NONBLOCK: opening a FIFO for reading would wait for a writer.
    int fd = posix_open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return errno;
    struct stat st = {};
    int err = SYS(fstat)(fd, &st) != 0 ? errno : !S_ISREG(st.st_mode) ? EACCES : 0;
    long got = err ? 0 : posix_read_all(fd, buf, cap);
    err = got < 0 ? errno : err;
    (void)SYS(close)(fd); // opened for reading: nothing is lost when closing fails
    *n = got > 0 ? (size_t)got : 0;
    return err;
}

// The byte of the two hex digits at p (in lower case, as the kernel writes
// them), -1 when they are none.
int hex_byte(const char* p)
{
    int value = 0;
    for (int i = 0; i < 2; i++) {
        char c = p[i];
        int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
        if (digit < 0)
            return -1;
        value = value * 16 + digit;
    }
    return value;
}

// The value in text of the field that begins a line "<name> ", as its
// first byte (null when the field is missing).
const char* field(const char* text, const char* name)
{
    size_t len = strlen(name);
    for (const char* line = text; line; line = strchr(line, '\n'), line = line ? line + 1 : nullptr)
        if (strncmp(line, name, len) == 0 && line[len] == ' ')
            return line + len + 1;
    return nullptr;
}

// Whether the handler of binfmt_misc whose text is given is switched on and
// claims the file path of this head (zero past what was read, as the kernel
// reads it): by its magic bytes at its offset, under its mask, or by the
// name's extension.
bool handler_claims(const char* text, const char* path, const char* head)
{
    if (strncmp(text, "enabled\n", 8) != 0)
        return false;
    const char* extension = field(text, "extension");
    const char* dot = strrchr(path, '.');
    size_t length = extension ? strcspn(extension, "\n") : 0;
    if (extension)
        return dot && *extension == '.' && strncmp(extension, dot, length) == 0 && dot[length] == '\0';
    const char* magic = field(text, "magic");
    const char* mask = field(text, "mask");
    const char* offset_text = field(text, "offset");
    unsigned long offset = offset_text ? strtoul(offset_text, nullptr, 10) : HEAD_CAP;
    size_t size = magic ? strcspn(magic, "\n") / 2 : 0;
    if (size == 0 || offset >= HEAD_CAP || HEAD_CAP - offset < size)
        return false;
    // A mask cut short ends in a byte that is no hex: nothing is read past it.
    for (size_t i = 0; i < size; i++) {
        int m = hex_byte(magic + 2 * i), bits = mask ? hex_byte(mask + 2 * i) : 0xFF;
        if (m < 0 || bits < 0 || (((unsigned char)head[offset + i] ^ m) & bits) != 0)
            return false;
    }
    return true;
}

// Whether a handler of binfmt_misc claims the file path of this head, with
// binfmt_misc switched on. A system that does not show its handlers here
// (binfmt_misc not mounted) counts as having none.
bool some_handler_claims(const char* path, const char* head)
{
    char text[HANDLER_TEXT_CAP], entry[sizeof HANDLERS + NAME_MAX];
    static_assert(sizeof(dirent::d_name) <= NAME_MAX + 1, "an entry's path fits");
    size_t n = 0;
    (void)snprintf(entry, sizeof entry, "%sstatus", HANDLERS);
    if (read_head(entry, text, sizeof text, &n) != 0 || strncmp(text, "enabled\n", 8) != 0)
        return false;
    DIR* dir = SYS(opendir)(HANDLERS);
    bool claimed = false;
    for (struct dirent* e = nullptr; dir && !claimed && (e = SYS(readdir)(dir));) {
        (void)snprintf(entry, sizeof entry, "%s%s", HANDLERS, e->d_name);
        claimed = e->d_name[0] != '.' && strcmp(e->d_name, "register") != 0 && strcmp(e->d_name, "status") != 0 &&
                  read_head(entry, text, sizeof text, &n) == 0 && handler_claims(text, path, head);
    }
    if (dir)
        (void)SYS(closedir)(dir); // read only: nothing is lost when closing fails
    return claimed;
}

// The interpreter a "#!" script in head names, ended with a zero where a
// blank or the line's end follows it; null when head is no script.
const char* script_interpreter(char* head)
{
    if (head[0] != '#' || head[1] != '!')
        return nullptr;
    char* name = head + 2 + strspn(head + 2, " \t");
    name[strcspn(name, " \t\n")] = '\0';
    return name;
}

// What the kernel makes of an ELF program's interpreter, read into head (n
// bytes): it must be an ELF file of the program's kind, wanted; its own
// interpreter is not looked at.
Verdict interpreter_verdict(const char* head, size_t n, const ElfKind& wanted)
{
    ElfKind kind = {};
    const char* interpreter = nullptr;
    if (!read_elf(head, n, &kind, &interpreter))
        return {NO_PROGRAM, 0, 0};
    return {same_kind(kind, wanted) ? STARTS : OTHER_PROCESSOR, 0, 0};
}

// What the kernel makes of the program path, read into head (n bytes): the
// verdict; in *interpreter the interpreter it needs next (null when it needs
// none, or is refused, or a handler claims it), in *elf whether it is an ELF
// program, whose interpreter must then be an ELF file of its kind, *kind.
Verdict program_verdict(const char* path, char* head, size_t n, const char** interpreter, ElfKind* kind, bool* elf)
{
    *elf = read_elf(head, n, kind, interpreter);
    if (!*elf)
        *interpreter = script_interpreter(head);
    Verdict verdict = *elf ? kernel_takes(*kind) : Verdict{*interpreter ? STARTS : NO_PROGRAM, 0, 0};
    if (verdict.refusal == STARTS)
        return verdict;
    // What the kernel's own loaders refuse, a handler may claim.
    *interpreter = nullptr;
    return some_handler_claims(path, head) ? Verdict{STARTS, 0, 0} : verdict;
}

// Follows what the kernel does to start path, a regular file this user may
// run: the program itself, then each interpreter it needs. The verdict, and
// in failed the interpreter it was reached on ("" for path itself).
Verdict follow(const char* path, char (&failed)[PATH_MAX])
{
    char head[HEAD_CAP];
    ElfKind wanted = {}; // what an ELF program's interpreter must be
    bool elf_interpreter = false;
    failed[0] = '\0';
    for (int scripts = 0;; path = failed) {
        size_t n = 0;
        // An interpreter, too, must be a file this user may run.
        int err = path == failed && SYS(access)(path, X_OK) != 0 ? errno : 0;
        if (err == 0)
            err = read_head(path, head, sizeof head, &n);
        if (err)
            return {SYSTEM_ERROR, err, 0};
        if (elf_interpreter)
            return interpreter_verdict(head, n, wanted);
        const char* interpreter = nullptr;
        Verdict verdict = program_verdict(path, head, n, &interpreter, &wanted, &elf_interpreter);
        if (!interpreter)
            return verdict;
        if (!elf_interpreter && ++scripts > SCRIPTS_MAX)
            return {SYSTEM_ERROR, ELOOP, 0};
        if (strlen(interpreter) >= sizeof failed)
            return {SYSTEM_ERROR, ENAMETOOLONG, 0};
        memmove(failed, interpreter, strlen(interpreter) + 1); // the file's name, read already
    }
}

// Writes the reason of a verdict into why.
void reason(const Verdict& v, char* why, size_t why_cap)
{
    switch (v.refusal) {
    case STARTS: why[0] = '\0'; return;
    case SYSTEM_ERROR: return posix_error_text(v.err, why, why_cap);
    case NO_PROGRAM: (void)snprintf(why, why_cap, "it is no program this system can start"); return;
    case OTHER_PROCESSOR: (void)snprintf(why, why_cap, "it is a program for another kind of processor"); return;
    case OTHER_WIDTH:
        (void)snprintf(why, why_cap, "it is a %d-bit program, and this system starts none",
                       v.width == ELFCLASS32 ? 32 : 64);
        return;
    }
}

} // namespace

bool posix_can_run(const char* path, char* why, size_t why_cap)
{
    // A directory cannot be started either: the system says EACCES for it.
    struct stat st = {};
    int err = SYS(stat)(path, &st) != 0      ? errno
              : !S_ISREG(st.st_mode)         ? EACCES
              : SYS(access)(path, X_OK) != 0 ? errno
                                             : 0;
    char failed[PATH_MAX];
    Verdict v = err ? Verdict{SYSTEM_ERROR, err, 0} : follow(path, failed);
    if (v.refusal == STARTS)
        return true;
    if (err || !failed[0] || v.err == ELOOP)
        reason(v, why, why_cap);
    else {
        // The interpreter's name is cut where the reason would not fit whole.
        static const char FORM[] = "its interpreter %.*s cannot be started: %s";
        char inner[REASON_CAP];
        reason(v, inner, sizeof inner);
        size_t fixed = sizeof FORM - sizeof "%.*s%s" + strlen(inner);
        (void)snprintf(why, why_cap, FORM, (int)(why_cap > fixed ? why_cap - 1 - fixed : 0), failed, inner);
    }
    return false;
}
