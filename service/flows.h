#pragma once
// The command flows (program a codeplug, read the serial number, read and
// write temp comp, program a serial number): what is checked, which
// connection is opened, what is sent in which order and which fixed text
// ends each outcome. The desktop windows and the command-line tool are
// adapters over these; they report through Reporter.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "archive/archive_check.h"
#include "link/errors.h"
#include "protocol/radio_connection.h"
#include "service/radio_operations.h"
#include "service/radio_storage.h"
#include "service/texts.h"

namespace tolvan {

enum class MessageKind {
    Information,  // the information icon
    Exclamation,  // the exclamation icon
    Plain,        // no icon
};

class Reporter {
public:
    virtual ~Reporter() = default;
    // A message box: it returns when the technician has closed it.
    virtual void message(const std::string& text, const std::string& caption, MessageKind kind) = 0;
    virtual void status(const std::string& text) = 0;
    // The progress window of codeplug programming.
    virtual void progressStart(const std::string& title) = 0;
    virtual void progress(int percent, const std::string& text) = 0;
    virtual void progressEnd() = 0;
};

// Shows nothing: for rendering windows offscreen without a box to click.
class SilentReporter : public Reporter {
public:
    void message(const std::string&, const std::string&, MessageKind) override {}
    void status(const std::string&) override {}
    void progressStart(const std::string&) override {}
    void progress(int, const std::string&) override {}
    void progressEnd() override {}
};

// How a flow opens its radio connection: com.ini by default, a device path
// for the command line and for tests.
using ConnectionFactory = std::function<std::unique_ptr<cominit>()>;
ConnectionFactory comIniConnection();
ConnectionFactory deviceConnection(const std::string& devicePath);

struct FlowResult {
    enum class Outcome {
        Success,
        Refused,  // nothing was sent: bad input, or the port could not be opened
        Failed,   // the radio or the line failed during the exchange
    };
    Outcome outcome = Outcome::Success;
    // For failures: the error, where it happened, and a line a technician can act on.
    int errorCode = 0;
    std::string errorClass;
    std::string devicePath;
    int record = 0;        // 1-based archive record reached, 0 when none
    long address = -1;     // memory address reached, -1 when none
    std::string detail;

    bool ok() const { return outcome == Outcome::Success; }
};

class CommandFlows {
public:
    CommandFlows(Reporter& reporter, ConnectionFactory connect);

    // Program Radio Codeplug: checks the archive first (a bad one is refused
    // and nothing is sent), writes every record, resets the radio after success.
    FlowResult programCodeplug(const fileModule& archive);
    FlowResult programCodeplug(const ArchiveCheck& archive);
    // Read S/N No.: the serial number goes to the status bar.
    FlowResult readSerialNumber(std::string* serial = nullptr);
    // Temp comp read: the value lands in the storage's cell (0, 9).
    FlowResult readTempComp(radioStorage& storage);
    FlowResult writeTempComp(const std::string& text);
    // Serial number programming.
    FlowResult writeSerialNumber(const std::string& text);

    // Command line only: compare the radio's memory with the archive's
    // records, or read the memory the records cover.
    FlowResult verifyCodeplug(const ArchiveCheck& archive);
    FlowResult backupCodeplug(const ArchiveCheck& archive, std::vector<ArchiveRecord>* memory);

    // "%x" of the 32-bit value, as the temp comp window shows it.
    static std::string tempCompText(int value);

private:
    FlowResult failure(FlowResult::Outcome outcome, const Exception* e, const std::string& detail);
    std::unique_ptr<cominit> open(FlowResult& result);

    Reporter& reporter_;
    ConnectionFactory connect_;
    radioOperations operations_;
};

}  // namespace tolvan
