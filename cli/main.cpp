// tolvan: the command-line service tool.

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include "archive/archive_check.h"
#include "archive/file_module.h"
#include "cli/cli_reporter.h"
#include "cli/cli_texts.h"
#include "cli/trace_writer.h"
#include "link/device_map.h"
#include "link/errors.h"
#include "link/posix_port.h"
#include "service/flows.h"

namespace tolvan::cli {
namespace {

enum Exit { kOk = 0, kRadioFailed = 1, kNothingSent = 2 };

struct Options {
    std::string device;
    std::string trace;
    bool quiet = false;
    bool verify = false;
    std::vector<std::string> args;
};

int usageError(const std::string& what)
{
    std::fprintf(stderr, kBadUsage, what.c_str());
    std::fputc('\n', stderr);
    return kNothingSent;
}

std::string userName()
{
    if (const passwd* pw = getpwuid(geteuid()))
        return pw->pw_name;
    return std::to_string(geteuid());
}

// One line beneath a failure, with what a technician can act on.
void printCause(const FlowResult& r)
{
    std::string cause;
    if (r.errorCode != 0)
        cause = r.errorClass + " (" + std::to_string(r.errorCode) + ")";
    if (!r.devicePath.empty())
        cause += (cause.empty() ? "" : " on ") + r.devicePath;
    if (!r.detail.empty())
        cause += (cause.empty() ? "" : ": ") + r.detail;
    if (!cause.empty())
        std::fprintf(stderr, "%s%s\n", kCausePrefix, cause.c_str());
}

// A port that could not be opened: name the device and, for missing rights, the group to join.
void printOpenFailure(const std::string& device)
{
    std::fprintf(stderr, "%s%s (%d) on %s: %s\n", kCausePrefix, errorClassName(6005), 6005, device.c_str(),
                 PosixCommunicationPort::lastOpenFailure().c_str());
    struct stat st{};
    if (PosixCommunicationPort::lastOpenErrno() == EACCES && stat(device.c_str(), &st) == 0) {
        const group* gr = getgrgid(st.st_gid);
        const std::string groupName = gr ? gr->gr_name : std::to_string(st.st_gid);
        std::fprintf(stderr, "  user %s may not open %s, which belongs to group %s\n", userName().c_str(),
                     device.c_str(), groupName.c_str());
        std::fprintf(stderr, kPermissionAdvice, groupName.c_str(), userName().c_str());
        std::fputc('\n', stderr);
    }
}

// com.ini that names no port (missing, unreadable, no digit 1 to 9 after its
// colon) leads to a device that does not exist; name the file instead.
bool printComIniFailure(const std::string& device)
{
    fileModule m;
    const int port = m.readComPortId();
    if (port >= 1)
        return false;
    const std::string dir = workingDirectory();
    struct stat st{};
    const char* what = port == 0 ? kComIniNoPort : (stat(comIniPath().c_str(), &st) != 0 ? kComIniMissing : kComIniUnreadable);
    std::fprintf(stderr, "%s%s (%d) on %s: ", kCausePrefix, errorClassName(6005), 6005, device.c_str());
    std::fprintf(stderr, what, dir.c_str());
    std::fprintf(stderr, "\n%s\n", kComIniAdvice);
    return true;
}

int exitFor(const FlowResult& r)
{
    if (r.ok())
        return kOk;
    return r.outcome == FlowResult::Outcome::Refused ? kNothingSent : kRadioFailed;
}

class Tool {
public:
    explicit Tool(Options o) : opt_(std::move(o)) {}

    int run()
    {
        const auto& a = opt_.args;
        const std::string& cmd = a[0];
        if (cmd == "check")
            return expect(2) ? check(a[1]) : kNothingSent;
        if (cmd == "program")
            return expect(2) ? program(a[1]) : kNothingSent;
        if (opt_.verify)
            return usageError("--verify belongs to program");
        if (cmd == "verify")
            return expect(2) ? verify(a[1]) : kNothingSent;
        if (cmd == "backup")
            return expect(3) ? backup(a[1], a[2]) : kNothingSent;
        if (cmd == "serial" && a.size() == 2 && a[1] == "read")
            return serialRead();
        if (cmd == "serial" && a.size() == 3 && a[1] == "write")
            return serialWrite(a[2]);
        if (cmd == "tempcomp" && a.size() == 2 && a[1] == "read")
            return tempCompRead();
        if (cmd == "tempcomp" && a.size() == 3 && a[1] == "write")
            return tempCompWrite(a[2]);
        if (cmd == "port" && a.size() == 1)
            return portShow();
        if (cmd == "port" && a.size() == 3 && a[1] == "set")
            return portSet(a[2]);
        if (cmd == "port" && a.size() == 2 && a[1] == "list")
            return portList();
        return usageError("unknown command: " + cmd);
    }

private:
    bool expect(std::size_t n)
    {
        if (opt_.args.size() == n)
            return true;
        usageError("wrong number of arguments for " + opt_.args[0]);
        return false;
    }

    ConnectionFactory connection() const
    {
        return opt_.device.empty() ? comIniConnection() : deviceConnection(opt_.device);
    }

    // The device a failed open was aimed at.
    std::string targetDevice() const
    {
        if (!opt_.device.empty())
            return opt_.device;
        fileModule m;
        int port = m.readComPortId();
        if (port < 0)
            port = lastPortId();
        return comDevicePath(port);
    }

    int finish(CliReporter& reporter, const FlowResult& r)
    {
        reporter.emit(r.ok());
        if (!r.ok()) {
            if (r.errorCode == 6005 && r.outcome == FlowResult::Outcome::Refused) {
                const std::string device = r.devicePath.empty() ? targetDevice() : r.devicePath;
                if (!opt_.device.empty() || !printComIniFailure(device))
                    printOpenFailure(device);
            }
            else
                printCause(r);
        }
        return exitFor(r);
    }

    bool showProgress() const { return !opt_.quiet && isatty(STDERR_FILENO); }

    ArchiveCheck load(const std::string& path)
    {
        ArchiveCheck a = checkArchiveFile(path);
        if (!a.ok) {
            std::fprintf(stderr, kArchiveBad, path.c_str());
            std::fprintf(stderr, "\n%s%s\n", kCausePrefix, a.message().c_str());
        }
        return a;
    }

    int check(const std::string& path)
    {
        ArchiveCheck a = load(path);
        if (!a.ok)
            return kNothingSent;
        std::printf(kArchiveOk, path.c_str(), a.records.size(), a.totalBytes);
        std::printf("\n");
        return kOk;
    }

    int program(const std::string& path)
    {
        ArchiveCheck a = load(path);
        if (!a.ok)
            return kNothingSent;
        CliReporter reporter(showProgress(), a.totalBytes);
        CommandFlows flows(reporter, connection());
        const FlowResult r = flows.programCodeplug(a);
        if (!r.ok() || !opt_.verify)
            return finish(reporter, r);
        reporter.emit(true);
        return finish(reporter, flows.verifyCodeplug(a));
    }

    int verify(const std::string& path)
    {
        ArchiveCheck a = load(path);
        if (!a.ok)
            return kNothingSent;
        CliReporter reporter(showProgress(), a.totalBytes);
        CommandFlows flows(reporter, connection());
        return finish(reporter, flows.verifyCodeplug(a));
    }

    int backup(const std::string& path, const std::string& output)
    {
        ArchiveCheck a = load(path);
        if (!a.ok)
            return kNothingSent;
        struct stat st{};
        if (lstat(output.c_str(), &st) == 0) {
            std::fprintf(stderr, kOutputExists, output.c_str());
            std::fputc('\n', stderr);
            return kNothingSent;
        }
        CliReporter reporter(showProgress(), a.totalBytes);
        CommandFlows flows(reporter, connection());
        std::vector<ArchiveRecord> memory;
        const FlowResult r = flows.backupCodeplug(a, &memory);
        if (!r.ok())
            return finish(reporter, r);
        // Written beside the target and renamed, so a failure leaves no half archive.
        const std::string temp = output + ".part";
        std::FILE* f = std::fopen(temp.c_str(), "wx");
        const std::string text = formatArchive(memory);
        bool written = f && std::fwrite(text.data(), 1, text.size(), f) == text.size();
        if (f)
            written = (std::fclose(f) == 0) && written;
        if (!written || std::rename(temp.c_str(), output.c_str()) != 0) {
            const int err = errno;
            std::remove(temp.c_str());
            std::fprintf(stderr, kOutputWriteFailed, output.c_str(), std::strerror(err));
            std::fputc('\n', stderr);
            return kRadioFailed;
        }
        reporter.message(texts::kBackedUp, texts::kNote, MessageKind::Information);
        reporter.emit(true);
        return kOk;
    }

    int serialRead()
    {
        CliReporter reporter(false);
        CommandFlows flows(reporter, connection());
        return finish(reporter, flows.readSerialNumber());
    }

    int serialWrite(const std::string& text)
    {
        CliReporter reporter(false);
        CommandFlows flows(reporter, connection());
        return finish(reporter, flows.writeSerialNumber(text));
    }

    int tempCompRead()
    {
        CliReporter reporter(false);
        CommandFlows flows(reporter, connection());
        radioStorage storage;
        const FlowResult r = flows.readTempComp(storage);
        if (r.ok())
            reporter.status(CommandFlows::tempCompText(storage.getTempCompValue()));
        return finish(reporter, r);
    }

    int tempCompWrite(const std::string& text)
    {
        CliReporter reporter(false);
        CommandFlows flows(reporter, connection());
        return finish(reporter, flows.writeTempComp(text));
    }

    int portShow()
    {
        fileModule m;
        const int port = m.readComPortId();
        if (port < 0) {
            std::printf(kPortNotConfigured, workingDirectory().c_str());
            std::printf("\n");
            return kOk;
        }
        std::printf(kPortShow, port, comDevicePath(port).c_str());
        std::printf("\n");
        return kOk;
    }

    int portSet(const std::string& text)
    {
        char* end = nullptr;
        errno = 0;
        const long n = std::strtol(text.c_str(), &end, 10);
        if (text.empty() || *end != '\0' || errno != 0 || n < 1 || n > 9)
            return usageError(kPortNumberBad);
        fileModule m;
        if (!m.writeComPortId(static_cast<int>(n))) {
            std::fprintf(stderr, "%s\n", kPortSetFailed);
            std::fprintf(stderr, "%s%s\n", kCausePrefix, comIniPath().c_str());
            return kNothingSent;
        }
        std::printf(kPortSet, static_cast<int>(n));
        std::printf(" (%s)\n", comDevicePath(static_cast<int>(n)).c_str());
        return kOk;
    }

    int portList()
    {
        fileModule m;
        const int configured = m.readComPortId();
        for (int n = 1; n <= 9; ++n) {
            const std::string dev = comDevicePath(n);
            struct stat st{};
            const bool exists = stat(dev.c_str(), &st) == 0;
            const bool mayOpen = exists && access(dev.c_str(), R_OK | W_OK) == 0;
            std::printf("%s COM %d  %-24s %-10s %s\n", n == configured ? "*" : " ", n, dev.c_str(),
                        exists ? "present" : "missing", exists ? (mayOpen ? "may open" : "no permission") : "");
        }
        return kOk;
    }

    Options opt_;
};

}  // namespace
}  // namespace tolvan::cli

int main(int argc, char** argv)
{
    using namespace tolvan::cli;
    Options opt;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&](std::string& into) {
            if (i + 1 >= argc)
                return false;
            into = argv[++i];
            return true;
        };
        if (a == "--help" || a == "-h") {
            std::fputs(kUsage, stdout);
            return kOk;
        }
        if (a == "--version") {
            std::printf("%s\n", kVersion);
            return kOk;
        }
        if (a == "--device") {
            if (!value(opt.device))
                return usageError("--device needs a path");
        } else if (a == "--trace") {
            if (!value(opt.trace))
                return usageError("--trace needs a file");
        } else if (a == "--quiet") {
            opt.quiet = true;
        } else if (a == "--verify") {
            opt.verify = true;
        } else if (a.size() > 1 && a[0] == '-' && a[1] == '-') {
            return usageError("unknown option " + a);
        } else {
            opt.args.push_back(a);
        }
    }
    if (opt.args.empty()) {
        std::fputs(kUsage, stderr);
        return kNothingSent;
    }

    tolvan::fileModule::storeWorkingDirectory();

    std::unique_ptr<std::FILE, int (*)(std::FILE*)> traceFile(nullptr, std::fclose);
    std::unique_ptr<TraceWriter> trace;
    if (!opt.trace.empty()) {
        traceFile.reset(std::fopen(opt.trace.c_str(), "w"));
        if (!traceFile) {
            std::fprintf(stderr, kTraceOpenFailed, opt.trace.c_str());
            std::fputc('\n', stderr);
            return kNothingSent;
        }
        trace = std::make_unique<TraceWriter>(traceFile.get());
        tolvan::setLineTrace(trace.get());
    }
    int status = Tool(std::move(opt)).run();
    tolvan::setLineTrace(nullptr);
    return status;
}
