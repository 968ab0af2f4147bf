#include "ui/LogTools.h"

#include "capture/Recorder.h"

#include "text/Utf8.h"
#include "ui/SendComposer.h"

#include <windows.h>

#include <algorithm>
#include <functional>

int64_t FindInBytes(const Journal& bytes, const std::vector<uint8_t>& pattern, int64_t from, JobProgress* progress)
{
    const std::atomic<bool>* cancel = progress ? &progress->cancel : nullptr;
    std::atomic<uint64_t> reached{0};
    if (progress)
        progress->total = bytes.Size();
    const int64_t found = bytes.Find(pattern, uint64_t(std::max<int64_t>(0, from)), cancel, progress ? &progress->done : &reached);
    if (found >= 0 || from <= 0 || (progress && progress->Cancelled()))
        return found;
    return bytes.Find(pattern, 0, cancel, &reached);
}

std::vector<uint8_t> ToAnsiBytes(const std::wstring& text)
{
    if (text.empty())
        return {};
    const int size = WideCharToMultiByte(CP_ACP, 0, text.data(), int(text.size()), nullptr, 0, nullptr, nullptr);
    std::vector<uint8_t> bytes(size_t(std::max(size, 0)));
    WideCharToMultiByte(CP_ACP, 0, text.data(), int(text.size()), reinterpret_cast<char*>(bytes.data()), size,
                        nullptr, nullptr);
    return bytes;
}

bool IsBinaryLogName(const std::wstring& path)
{
    return LowerCaseExtension(path) == L"bin";
}

bool IsCaptureName(const std::wstring& path)
{
    return LowerCaseExtension(path) == L"pcapng";
}

// In pieces a single WriteFile can take.
static bool WriteAll(HANDLE file, const uint8_t* data, size_t size)
{
    bool ok = true;
    while (ok && size > 0) {
        const DWORD chunk = DWORD(std::min<size_t>(size, 1u << 30));
        DWORD written = 0;
        ok = WriteFile(file, data, chunk, &written, nullptr) && written == chunk;
        data += chunk;
        size -= chunk;
    }
    return ok;
}

template <class Write>
static bool WriteWholeFile(const std::wstring& path, Write write)
{
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                    nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    const bool ok = write(file);
    return CloseHandle(file) && ok;
}

// The received blocks' bytes, read back from the journal a piece at a time;
// bytes it no longer keeps are left out and counted.
static bool WriteReceived(HANDLE file, const Journal& traffic, JobProgress* progress)
{
    std::vector<uint8_t> piece(size_t(1) << 20);
    const uint64_t failures = traffic.ReadFailures();
    const size_t records = traffic.RecordCount();
    if (progress)
        progress->total = records;
    for (size_t i = 0; i < records; ++i) {
        if (progress) {
            progress->done = i;
            if (progress->Cancelled())
                return false;
        }
        const JournalRecord record = traffic.Record(i);
        if (traffic.ReadFailures() != failures)
            return false; // a record that cannot be read back
        if (record.direction != TrafficDirection::Received || record.event != JournalEvent::Data)
            continue;
        for (uint64_t done = 0; done < record.size;) {
            const size_t want = size_t(std::min<uint64_t>(piece.size(), record.size - done));
            const size_t got = traffic.Read(record.offset + done, piece.data(), want);
            if (got < want && !traffic.AllKept(record.offset + done, want)) {
                if (!WriteAll(file, piece.data(), got))
                    return false;
                if (progress)
                    progress->notKept += record.size - done - got;
                break;
            }
            if (got != want || !WriteAll(file, piece.data(), want))
                return false;
            done += want;
        }
    }
    return true;
}

bool SaveLogFile(const std::wstring& path, const std::wstring& logText, const Journal& traffic, JobProgress* progress)
{
    bool written = false;
    if (IsBinaryLogName(path)) {
        written = WriteWholeFile(path, [&](HANDLE file) { return WriteReceived(file, traffic, progress); });
    } else {
        const std::vector<uint8_t> utf8 = EncodeUtf8(logText);
        written = WriteWholeFile(path, [&](HANDLE file) { return WriteAll(file, utf8.data(), utf8.size()); });
    }
    if (!written && progress && progress->Cancelled())
        DeleteFileW(path.c_str());
    return written;
}

// Each piece of the range's copy text in turn, until `take` refuses one.
static bool ForEachCopyPiece(const Journal& traffic, const HexModel::Range& range, JobProgress& progress,
                             const std::function<bool(const std::wstring&)>& take)
{
    progress.total = range.count;
    std::vector<uint8_t> piece(size_t(1) << 20);
    std::wstring text;
    for (uint64_t done = 0; done < range.count; done += piece.size()) {
        if (progress.Cancelled())
            return false;
        const size_t want = size_t(std::min<uint64_t>(piece.size(), range.count - done));
        if (traffic.Read(range.from + done, piece.data(), want) != want)
            return false;
        text.clear();
        AppendCopyText(text, piece.data(), want, range.ascii, done > 0);
        if (!take(text))
            return false;
        progress.done = done + want;
    }
    return true;
}

bool MakeCopyText(const Journal& traffic, const HexModel::Range& range, JobProgress& progress, std::wstring& text)
{
    text.reserve(size_t(CopyTextLength(range.count, range.ascii)));
    return ForEachCopyPiece(traffic, range, progress, [&](const std::wstring& piece) {
        text += piece;
        return true;
    });
}

bool SaveCopyText(const std::wstring& path, const Journal& traffic, const HexModel::Range& range,
                  JobProgress& progress)
{
    const bool written = WriteWholeFile(path, [&](HANDLE file) {
        return ForEachCopyPiece(traffic, range, progress, [&](const std::wstring& piece) {
            const std::vector<uint8_t> utf8 = EncodeUtf8(piece);
            return WriteAll(file, utf8.data(), utf8.size());
        });
    });
    if (!written)
        DeleteFileW(path.c_str());
    return written;
}
