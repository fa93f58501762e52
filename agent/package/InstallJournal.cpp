#include "agent/package/InstallJournal.h"

#include "agent/package/InstallStep.h"
#include "agent/package/PackageFiles.h"
#include "agent/package/PackagePaths.h"

#include "CNSLog.h"

#include <fstream>
#include <set>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

using platform::Result;

namespace {

constexpr const char* kHeader = "qvt-journal 1";

/// Paths may hold any byte but NUL: tabs, line ends and "%" are escaped.
std::string escape(const std::string& text) {
    std::string out;
    for (const char c : text) {
        if (c == '%' || c == '\t' || c == '\n' || c == '\r') {
            static const char digits[] = "0123456789ABCDEF";
            out += '%';
            out += digits[static_cast<unsigned char>(c) >> 4];
            out += digits[static_cast<unsigned char>(c) & 15];
        } else {
            out += c;
        }
    }
    return out;
}

std::optional<std::string> unescape(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out += text[i];
            continue;
        }
        const std::string hex = i + 2 < text.size() ? text.substr(i + 1, 2) : "";
        if (hex.size() != 2 || hex.find_first_not_of("0123456789ABCDEF") != std::string::npos)
            return std::nullopt;
        out += static_cast<char>(std::stoi(hex, nullptr, 16));
        i += 2;
    }
    return out;
}

std::optional<JournalRecord> parse(const std::string& line) {
    const size_t first = line.find('\t');
    const size_t second = first == std::string::npos ? first : line.find('\t', first + 1);
    JournalRecord record{line.substr(0, first), "", ""};
    const auto path = first == std::string::npos ? std::optional<std::string>("")
                                                 : unescape(line.substr(first + 1, second - first - 1));
    const auto other =
        second == std::string::npos ? std::optional<std::string>("") : unescape(line.substr(second + 1));
    if (record.kind.empty() || !path || !other)
        return std::nullopt;
    record.path = *path;
    record.other = *other;
    return record;
}

} // namespace

std::string InstallJournal::pathIn(const std::string& dataFolder) {
    return PackagePaths::join(dataFolder, kFileName);
}

std::string InstallJournal::previousReceiptIn(const std::string& dataFolder) {
    return pathIn(dataFolder) + ".previous-receipt";
}

InstallJournal::InstallJournal(std::string dataFolder, std::string operation, std::string backupSet)
    : m_dataFolder(std::move(dataFolder)), m_operation(std::move(operation)),
      m_backupSet(std::move(backupSet)) {}

InstallJournal::InstallJournal(InstallJournal&& other) noexcept
    : m_dataFolder(std::move(other.m_dataFolder)), m_operation(std::move(other.m_operation)),
      m_backupSet(std::move(other.m_backupSet)), m_records(std::move(other.m_records)),
      m_committed(other.m_committed), m_open(other.m_open) {
    other.m_open = false;
}

InstallJournal::~InstallJournal() {
    if (!m_open)
        return;
    if (m_committed) {
        finish();
    } else if (m_operation != kUninstall) {
        OCNSLog("PackageInstaller: the %@ was interrupted; restoring the previous state", m_operation);
        rollBack();
    }
}

Result<InstallJournal> InstallJournal::begin(const std::string& dataFolder, const std::string& operation,
                                             const std::string& identifier, const std::string& backupSet) {
    InstallJournal journal(dataFolder, operation, backupSet);
    journal.add({"operation", operation, ""});
    journal.add({"identifier", identifier, ""});
    journal.add({"backup-set", backupSet, ""});
    if (auto written = journal.write(); !written) {
        journal.m_open = false;
        return written.failure();
    }
    return journal;
}

Result<std::optional<InstallJournal>> InstallJournal::load(const std::string& dataFolder) {
    std::ifstream in(pathIn(dataFolder), std::ios::binary);
    if (!in) {
        if (::access(pathIn(dataFolder).c_str(), F_OK) != 0)
            return std::optional<InstallJournal>();
        return platform::Failure{PackageFiles::kDomain, EIO, "cannot read " + pathIn(dataFolder)};
    }
    std::string line;
    std::optional<InstallJournal> journal(InstallJournal(dataFolder, "", ""));
    const platform::Failure broken{PackageFiles::kDomain, EINVAL, pathIn(dataFolder) + " is damaged"};
    if (!std::getline(in, line) || line != kHeader)
        return broken;
    while (std::getline(in, line)) {
        auto record = parse(line);
        if (!record)
            return broken;
        journal->m_records.push_back(*record);
        if (record->kind == "operation")
            journal->m_operation = record->path;
        else if (record->kind == "backup-set")
            journal->m_backupSet = record->path;
        else if (record->kind == "committed")
            journal->m_committed = true;
    }
    if (journal->m_operation.empty())
        return broken;
    return journal;
}

std::vector<JournalRecord> InstallJournal::recordsOf(const std::string& kind) const {
    std::vector<JournalRecord> result;
    for (const auto& record : m_records)
        if (record.kind == kind)
            result.push_back(record);
    return result;
}

void InstallJournal::add(JournalRecord record) {
    m_records.push_back(std::move(record));
}

Result<void> InstallJournal::write() {
    std::string text = std::string(kHeader) + "\n";
    for (const auto& record : m_records)
        text += record.kind + "\t" + escape(record.path) + "\t" + escape(record.other) + "\n";
    return PackageFiles::writeDurably(pathIn(m_dataFolder), text);
}

Result<void> InstallJournal::commit() {
    add({"committed", "", ""});
    auto written = write();
    m_committed = written.ok();
    return written;
}

void InstallJournal::finish() {
    for (const auto& record : recordsOf("obsolete-folder"))
        (void)PackageFiles::removeFolder(record.path); // only while empty
    remove();
}

bool InstallJournal::rollBack() {
    if (recordsOf("rolled-back").empty() && !undoSteps())
        return false;
    if (!m_backupSet.empty()) {
        const std::string identifierFolder = PackageFiles::parentOf(m_backupSet);
        (void)PackageFiles::removeTree(m_backupSet);
        if (PackageFiles::removeFolder(identifierFolder)) // only while empty
            (void)PackageFiles::removeFolder(PackageFiles::parentOf(identifierFolder));
    }
    remove();
    return true;
}

bool InstallJournal::undoSteps() {
    bool complete = true;
    size_t end = m_records.size();
    for (size_t i = m_records.size(); i-- > 0;) {
        if (m_records[i].kind != "step")
            continue;
        const std::vector<JournalRecord> section(m_records.begin() + static_cast<long>(i) + 1,
                                                 m_records.begin() + static_cast<long>(end));
        end = i;
        const auto step = InstallStep::named(m_records[i].path);
        if (!step) {
            OCNSLog("PackageInstaller: the journal names an unknown step %@", m_records[i].path);
            complete = false;
        } else if (!step->undo(section)) {
            complete = false;
        }
    }
    if (!complete) {
        OCNSLog("PackageInstaller: the previous state could not be fully restored; the journal and the "
                "backups in %@ are kept",
                m_backupSet);
        m_open = false;
        return false;
    }
    // What was put back is durable, and marked done, before the backups go.
    syncTouchedFileSystems();
    add({"rolled-back", "", ""});
    if (auto written = write(); !written) {
        OCNSLog("PackageInstaller: cannot write the journal: %@", written.failure().description);
        m_open = false;
        return false;
    }
    return true;
}

void InstallJournal::syncTouchedFileSystems() const {
    std::set<dev_t> synced;
    for (const auto& record : m_records) {
        const std::string folder = PackageFiles::parentOf(record.path);
        struct stat info {};
        if (record.path.empty() || record.path.front() != '/' || ::stat(folder.c_str(), &info) != 0 ||
            !synced.insert(info.st_dev).second)
            continue;
        if (auto done = PackageFiles::syncFileSystem(folder); !done)
            OCNSLog("PackageInstaller: cannot sync %@: %@", folder, done.failure().description);
    }
}

void InstallJournal::remove() {
    (void)PackageFiles::remove(previousReceiptIn(m_dataFolder));
    (void)PackageFiles::remove(PackageFiles::temporaryBeside(previousReceiptIn(m_dataFolder)));
    (void)PackageFiles::remove(PackageFiles::temporaryBeside(pathIn(m_dataFolder)));
    if (auto removed = PackageFiles::remove(pathIn(m_dataFolder)); !removed)
        OCNSLog("PackageInstaller: cannot remove the journal: %@", removed.failure().description);
    (void)PackageFiles::syncFolder(m_dataFolder);
    m_open = false;
}
