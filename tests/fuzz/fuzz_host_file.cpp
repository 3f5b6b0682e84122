// The host list file as anyone may have written it. Its entries hold no line
// end, each reads as its bytes do and keeps them where its text would not give
// them back, and writing them back gives the same bytes with every line ended
// by CR LF; reading that again gives the same entries.

#include "fuzz/fuzz_check.h"
#include "settings/settings_files.h"

using namespace tarnwick::settings;

namespace {

// The file as the program writes it back: each line end (CR LF, a lone CR or
// a lone LF) becomes CR LF, and a last line without one gets one.
QByteArray withCrLf(const QByteArray& bytes)
{
    QByteArray out;
    bool open = false;
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const char c = bytes[i];
        if (c == '\r' || c == '\n') {
            out += "\r\n";
            open = false;
            if (c == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n')
                ++i;
        } else {
            out += c;
            open = true;
        }
    }
    if (open)
        out += "\r\n";
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray file(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const QList<HostEntry> entries = decodeHostList(file);
    for (const HostEntry& entry : entries) {
        // Bytes are kept just where the text would not give them back.
        const QByteArray line = entry.bytes.isNull() ? entry.text.toLocal8Bit() : entry.bytes;
        FUZZ_REQUIRE(!line.contains('\r') && !line.contains('\n'));
        FUZZ_REQUIRE(entry.text == QString::fromLocal8Bit(line));
        FUZZ_REQUIRE(entry.bytes.isNull() == (QString::fromLocal8Bit(line).toLocal8Bit() == line));
    }
    const QByteArray written = encodeHostList(entries);
    FUZZ_REQUIRE(written == withCrLf(file));
    const QList<HostEntry> again = decodeHostList(written);
    FUZZ_REQUIRE(again.size() == entries.size());
    for (qsizetype i = 0; i < again.size(); ++i)
        FUZZ_REQUIRE(again[i].bytes == entries[i].bytes && again[i].text == entries[i].text);
    return 0;
}
