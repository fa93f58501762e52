#include "platform/ExecutableInfo.h"

#include "platform/FileDescriptor.h"

#include <fcntl.h>
#include <gelf.h>
#include <libelf.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <mutex>

namespace platform {

namespace {

class ElfHandle {
public:
    explicit ElfHandle(Elf* elf) : m_elf(elf) {}
    ElfHandle(const ElfHandle&) = delete;
    ElfHandle& operator=(const ElfHandle&) = delete;
    ~ElfHandle() {
        if (m_elf)
            elf_end(m_elf);
    }
    Elf* get() const { return m_elf; }

private:
    Elf* m_elf;
};

bool libelfReady() {
    static std::once_flag once;
    static bool ready = false;
    std::call_once(once, [] { ready = elf_version(EV_CURRENT) != EV_NONE; });
    return ready;
}

} // namespace

std::optional<std::string> ExecutableInfo::sectionBytes(const std::string& path) {
    if (!libelfReady())
        return std::nullopt;
    FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (file.get() < 0)
        return std::nullopt;
    struct stat status {};
    if (::fstat(file.get(), &status) != 0 || !S_ISREG(status.st_mode))
        return std::nullopt;
    const auto fileSize = static_cast<uint64_t>(status.st_size);

    // ELF_C_READ reads through the descriptor, so a file shorter than its
    // headers claim gives read errors here, never a fault.
    ElfHandle elf(elf_begin(file.get(), ELF_C_READ, nullptr));
    if (!elf.get() || elf_kind(elf.get()) != ELF_K_ELF)
        return std::nullopt;
    size_t namesIndex = 0;
    if (elf_getshdrstrndx(elf.get(), &namesIndex) != 0)
        return std::nullopt;

    for (Elf_Scn* section = elf_nextscn(elf.get(), nullptr); section;
         section = elf_nextscn(elf.get(), section)) {
        GElf_Shdr header;
        if (!gelf_getshdr(section, &header))
            return std::nullopt;
        const char* name = elf_strptr(elf.get(), namesIndex, header.sh_name);
        if (!name || std::strcmp(name, kSectionName) != 0)
            continue;
        if (header.sh_type == SHT_NOBITS || header.sh_size == 0 || header.sh_size > kMaxSectionSize ||
            header.sh_offset > fileSize || header.sh_size > fileSize - header.sh_offset)
            return std::nullopt;
        Elf_Data* data = elf_rawdata(section, nullptr);
        if (!data || !data->d_buf || data->d_size != header.sh_size)
            return std::nullopt;
        std::string bytes(static_cast<const char*>(data->d_buf), data->d_size);
        // The embedding may leave a terminating zero; the list ends before it.
        while (!bytes.empty() && bytes.back() == '\0')
            bytes.pop_back();
        return bytes;
    }
    return std::nullopt;
}

std::optional<PropertyList> ExecutableInfo::read(const std::string& path) {
    auto bytes = sectionBytes(path);
    if (!bytes)
        return std::nullopt;
    return PropertyList::fromBytes(*bytes);
}

} // namespace platform
