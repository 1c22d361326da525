#include "service/flows.h"

#include <cstdio>
#include <new>

#include "protocol/sbep_requests.h"

namespace tolvan {

namespace {

constexpr int kTempCompChars = 8;
constexpr int kSerialChars = 10;

bool isHexDigit(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

std::string hexAddress(long address)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%06lX", address);
    return text;
}

}  // namespace

ConnectionFactory comIniConnection()
{
    return [] { return std::make_unique<cominit>(); };
}

ConnectionFactory deviceConnection(const std::string& devicePath)
{
    return [devicePath] { return std::make_unique<cominit>(devicePath); };
}

CommandFlows::CommandFlows(Reporter& reporter, ConnectionFactory connect)
    : reporter_(reporter), connect_(std::move(connect))
{
}

std::string CommandFlows::tempCompText(int value)
{
    char text[34];
    std::snprintf(text, sizeof text, "%x", static_cast<unsigned>(value));
    return text;
}

FlowResult CommandFlows::failure(FlowResult::Outcome outcome, const Exception* e, const std::string& detail)
{
    FlowResult r;
    r.outcome = outcome;
    if (e) {
        r.errorCode = e->code;
        r.errorClass = errorClassName(e->code);
    }
    r.detail = detail;
    return r;
}

std::unique_ptr<cominit> CommandFlows::open(FlowResult& result)
{
    try {
        return connect_();
    } catch (const Exception& e) {
        result = failure(FlowResult::Outcome::Refused, &e, PosixCommunicationPort::lastOpenFailure());
    } catch (const std::exception& e) {
        result = failure(FlowResult::Outcome::Refused, nullptr, e.what());
    }
    return nullptr;
}

// ---- Program Radio Codeplug ----------------------------------------------

FlowResult CommandFlows::programCodeplug(const fileModule& archive) { return programCodeplug(checkArchive(archive)); }

FlowResult CommandFlows::programCodeplug(const ArchiveCheck& archive)
{
    if (!archive.ok) {
        // Not one frame goes out for an archive that cannot be read whole.
        FlowResult r = failure(FlowResult::Outcome::Refused, nullptr, archive.message());
        reporter_.message(std::string(texts::kCannotProgram), texts::kError, MessageKind::Exclamation);
        return r;
    }

    reporter_.progressStart(texts::kProgressTitle);
    FlowResult result;
    std::unique_ptr<cominit> connection;
    int record = 0;
    long done = 0;
    const long total = archive.totalBytes;
    int shown = -1;
    auto showProgress = [&] {
        const int percent = total > 0 ? static_cast<int>(done * 100 / total) : 100;
        if (percent == shown)
            return;
        shown = percent;
        reporter_.progress(percent, std::to_string(percent) + texts::kProgressDone);
    };
    try {
        connection = open(result);
        if (!connection) {
            reporter_.progress(100, std::string("100") + texts::kProgressDone);
            reporter_.progressEnd();
            reporter_.message(texts::kCannotProgram, texts::kError, MessageKind::Exclamation);
            return result;
        }
        result.devicePath = connection->devicePath();
        connection->sbep.frameDone = [&](unsigned bytes) {
            done += bytes;
            showProgress();
        };
        showProgress();
        for (const ArchiveRecord& r : archive.records) {
            ++record;
            connection->sbep.writeMemory(r.data.data(), static_cast<int>(r.address), static_cast<unsigned>(r.length));
        }
    } catch (const Exception& e) {
        result = failure(FlowResult::Outcome::Failed, &e, "");
    } catch (const std::bad_alloc&) {
        result = failure(FlowResult::Outcome::Failed, nullptr, "out of memory");
    }

    if (!result.ok()) {
        result.record = record;
        if (connection) {
            result.devicePath = connection->devicePath();
            result.address = connection->sbep.currentAddress;
        }
        if (result.record > 0) {
            const std::string where = "record " + std::to_string(record) + " of "
                + std::to_string(archive.records.size()) + ", address " + hexAddress(result.address);
            result.detail = result.detail.empty() ? where : result.detail + "; " + where;
        }
        reporter_.progress(100, std::string("100") + texts::kProgressDone);
        reporter_.progressEnd();
        connection.reset();
        reporter_.message(texts::kCannotProgram, texts::kError, MessageKind::Exclamation);
        return result;
    }

    reporter_.progress(100, std::string("100") + texts::kProgressDone);
    reporter_.progressEnd();
    reporter_.message(texts::kProgrammed, texts::kNote, MessageKind::Information);
    try {
        connection->sbep.reset();
    } catch (...) {
        // Success is already reported; a reset that fails changes nothing.
    }
    connection.reset();
    reporter_.status(texts::kCodeplugStatus);
    return result;
}

// ---- Read S/N No. ---------------------------------------------------------

FlowResult CommandFlows::readSerialNumber(std::string* serial)
{
    FlowResult result;
    char text[SBEPRadioSerialNoRequest::kSerialLength + 1] = {};
    {
        std::unique_ptr<cominit> connection = open(result);
        if (!connection) {
            reporter_.message(texts::kCannotReadSerial, texts::kError, MessageKind::Exclamation);
            return result;
        }
        result.devicePath = connection->devicePath();
        try {
            radioStorage unused;
            operations_.readSerialNumber(unused, text, *connection);
        } catch (const Exception& e) {
            FlowResult f = failure(FlowResult::Outcome::Failed, &e, "");
            f.devicePath = result.devicePath;
            connection.reset();
            reporter_.message(texts::kCannotReadSerial, texts::kError, MessageKind::Exclamation);
            return f;
        }
    }
    char status[64];
    std::snprintf(status, sizeof status, texts::kSerialStatusFormat, text);
    reporter_.status(status);
    if (serial)
        *serial = text;
    return result;
}

// ---- Temp Comp ------------------------------------------------------------

FlowResult CommandFlows::readTempComp(radioStorage& storage)
{
    FlowResult result;
    std::unique_ptr<cominit> connection = open(result);
    if (connection) {
        result.devicePath = connection->devicePath();
        try {
            operations_.readTempComp(storage, *connection);
        } catch (const Exception& e) {
            const std::string device = result.devicePath;
            result = failure(FlowResult::Outcome::Failed, &e, "");
            result.devicePath = device;
        }
    }
    if (!result.ok()) {
        reporter_.message(texts::kTempCompNotRead, texts::kError, MessageKind::Exclamation);
        connection.reset();
    }
    return result;
}

FlowResult CommandFlows::writeTempComp(const std::string& text)
{
    if (text.size() != kTempCompChars) {
        reporter_.message(texts::kTempCompLength, texts::kNote, MessageKind::Information);
        return failure(FlowResult::Outcome::Refused, nullptr, "");
    }
    for (char c : text) {
        if (!isHexDigit(c)) {
            reporter_.message(texts::kTempCompDigits, texts::kNote, MessageKind::Information);
            return failure(FlowResult::Outcome::Refused, nullptr, "");
        }
    }
    unsigned char bytes[4];
    for (int i = 0; i < 4; ++i)
        bytes[i] = static_cast<unsigned char>(hexPairToByte(text.c_str() + 2 * i));

    FlowResult result;
    std::unique_ptr<cominit> connection = open(result);
    if (connection) {
        result.devicePath = connection->devicePath();
        try {
            connection->sbep.writeSoftpot(radioOperations::kTempCompSoftpot, 1, bytes, 4);
            // The port stays open until the technician has closed the box.
            reporter_.message(texts::kTempCompWritten, texts::kNote, MessageKind::Information);
            connection.reset();
            return result;
        } catch (const Exception& e) {
            const std::string device = result.devicePath;
            result = failure(FlowResult::Outcome::Failed, &e, "");
            result.devicePath = device;
        }
    }
    connection.reset();
    reporter_.message(texts::kTempCompWriteError, texts::kError, MessageKind::Exclamation);
    return result;
}

// ---- Serial number programming ---------------------------------------------

FlowResult CommandFlows::writeSerialNumber(const std::string& text)
{
    if (text.size() != kSerialChars) {
        reporter_.message(texts::kSerialLength, texts::kEntryError, MessageKind::Exclamation);
        return failure(FlowResult::Outcome::Refused, nullptr, "");
    }
    FlowResult result;
    std::unique_ptr<cominit> connection = open(result);
    if (!connection) {
        reporter_.message(texts::kPortUnavailable, texts::kWarning, MessageKind::Information);
        return result;
    }
    result.devicePath = connection->devicePath();
    try {
        connection->sbep.writeSerialNumber(text.c_str());
    } catch (const Exception& e) {
        const std::string device = result.devicePath;
        result = failure(FlowResult::Outcome::Failed, &e, "");
        result.devicePath = device;
        reporter_.message(texts::kRadioCommunicationError, texts::kError, MessageKind::Exclamation);
        connection.reset();
        return result;
    }
    reporter_.message(texts::kSerialProgrammed, texts::kNote, MessageKind::Information);
    connection.reset();
    return result;
}

// ---- verify and backup ------------------------------------------------------

FlowResult CommandFlows::backupCodeplug(const ArchiveCheck& archive, std::vector<ArchiveRecord>* memory)
{
    if (!archive.ok) {
        reporter_.message(texts::kCannotBackUp, texts::kError, MessageKind::Exclamation);
        return failure(FlowResult::Outcome::Refused, nullptr, archive.message());
    }
    FlowResult result;
    std::unique_ptr<cominit> connection = open(result);
    if (!connection) {
        reporter_.message(texts::kCannotBackUp, texts::kError, MessageKind::Exclamation);
        return result;
    }
    result.devicePath = connection->devicePath();
    long done = 0;
    connection->sbep.frameDone = [&](unsigned bytes) {
        done += bytes;
        const int percent = archive.totalBytes > 0 ? static_cast<int>(done * 100 / archive.totalBytes) : 100;
        reporter_.progress(percent, std::to_string(percent) + texts::kProgressDone);
    };
    reporter_.progressStart("Reading radio memory");
    int record = 0;
    try {
        memory->clear();
        for (const ArchiveRecord& r : archive.records) {
            ++record;
            ArchiveRecord copy;
            copy.address = r.address;
            copy.length = r.length;
            copy.data.resize(static_cast<std::size_t>(r.length));
            connection->sbep.readMemory(copy.data.data(), static_cast<int>(r.address), static_cast<unsigned>(r.length));
            memory->push_back(std::move(copy));
        }
    } catch (const Exception& e) {
        FlowResult f = failure(FlowResult::Outcome::Failed, &e, "");
        f.devicePath = result.devicePath;
        f.record = record;
        f.address = connection->sbep.currentAddress;
        f.detail = "record " + std::to_string(record) + ", address " + hexAddress(f.address);
        reporter_.progressEnd();
        connection.reset();
        reporter_.message(texts::kCannotBackUp, texts::kError, MessageKind::Exclamation);
        return f;
    }
    reporter_.progressEnd();
    connection.reset();
    return result;
}

FlowResult CommandFlows::verifyCodeplug(const ArchiveCheck& archive)
{
    std::vector<ArchiveRecord> memory;
    // Read quietly, then report the comparison in verify's own words.
    struct Quiet : Reporter {
        Reporter& outer;
        std::string lastText;
        explicit Quiet(Reporter& o) : outer(o) {}
        void message(const std::string&, const std::string&, MessageKind) override {}
        void status(const std::string&) override {}
        void progressStart(const std::string& t) override { outer.progressStart(t); }
        void progress(int p, const std::string& t) override { outer.progress(p, t); }
        void progressEnd() override { outer.progressEnd(); }
    } quiet(reporter_);
    CommandFlows reader(quiet, connect_);
    FlowResult result = reader.backupCodeplug(archive, &memory);
    if (!result.ok()) {
        reporter_.message(texts::kCannotVerify, texts::kError, MessageKind::Exclamation);
        return result;
    }
    for (std::size_t i = 0; i < memory.size(); ++i) {
        const ArchiveRecord& want = archive.records[i];
        for (std::size_t k = 0; k < want.data.size(); ++k) {
            if (memory[i].data[k] != want.data[k]) {
                FlowResult f = failure(FlowResult::Outcome::Failed, nullptr, "");
                f.devicePath = result.devicePath;
                f.record = static_cast<int>(i + 1);
                f.address = want.address + static_cast<long>(k);
                char text[128];
                std::snprintf(text, sizeof text, "first difference at address %s (record %zu): radio 0x%02X, archive 0x%02X",
                              hexAddress(f.address).c_str(), i + 1, memory[i].data[k], want.data[k]);
                f.detail = text;
                reporter_.message(texts::kVerifyDiffers, texts::kError, MessageKind::Exclamation);
                return f;
            }
        }
    }
    reporter_.message(texts::kVerified, texts::kNote, MessageKind::Information);
    return result;
}

}  // namespace tolvan
