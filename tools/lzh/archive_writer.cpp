#include "lzh/archive_writer.h"

#include <string.h>

#include <algorithm>
#include <deque>
#include <map>
#include <memory>
#include <set>

#include "files/host_fs.h"
#include "lzh/header.h"
#include "lzh/worker_thread.h"

namespace lzh {

namespace {

// Longest name the stub takes: directory part, separator and file part, in
// Shift-JIS bytes and in UTF-16 units.
constexpr size_t MAX_NAME_BYTES = 259;
constexpr size_t MAX_NAME_UNITS = 259;
// Input is read and compressed in pieces of this size.
constexpr size_t READ_CHUNK = 1 << 20;
// Files up to this size are read whole and compressed several at once, one
// on each thread: such a file is one chunk for the encoder, which would
// search it on one thread only.
constexpr uint64_t SMALL_FILE = ENCODER_CHUNK_SIZE;
// Small files go to a thread in batches of about this many bytes, or this
// many files: handing a thread work and taking it back can cost as much as
// compressing a file of a few kilobytes (tens of microseconds on a virtual
// machine, more when its cores are busy).
constexpr size_t BATCH_BYTES = 256 << 10;
constexpr size_t BATCH_FILES = 64;
// Output the encoder may still hold back for input that has reached its
// block coder.
constexpr uint64_t PENDING_OUTPUT = 128 << 10;

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

std::string SystemError(const std::string& subject, const char* what, const std::string& reason) {
    return Quoted(subject) + ": " + what + ": " + reason;
}

// Splits a name on '/', dropping empty and "." parts. False for "..".
bool NameParts(const std::string& name, std::vector<std::string>* parts) {
    size_t start = 0;
    while (start <= name.size()) {
        size_t slash = name.find('/', start);
        if (slash == std::string::npos) slash = name.size();
        std::string part = name.substr(start, slash - start);
        if (part == "..") return false;
        if (!part.empty() && part != ".") parts->push_back(part);
        start = slash + 1;
    }
    return true;
}

// A part of a name that Windows cannot create, or "" when it is fine.
std::string BadCharacter(const std::string& part) {
    for (unsigned char c : part) {
        if (c < 0x20 || strchr("\\:*?\"<>|", c) != nullptr) {
            if (c < 0x20) return "control character";
            return std::string("character '") + static_cast<char>(c) + "'";
        }
    }
    return "";
}

// Windows compares names without case. Folded to lower case here: ASCII,
// Latin-1, Latin Extended-A, Greek, Cyrillic and full-width Latin letters.
char16_t FoldCase(char16_t c) {
    if ((c >= u'A' && c <= u'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7) || (c >= 0x391 && c <= 0x3AB && c != 0x3A2) ||
        (c >= 0x410 && c <= 0x42F) || (c >= 0xFF21 && c <= 0xFF3A)) {
        return static_cast<char16_t>(c + 0x20);
    }
    if (c >= 0x400 && c <= 0x40F) return static_cast<char16_t>(c + 0x50);
    if (c == 0x178) return 0xFF;
    // Latin Extended-A: capital and small letters in pairs, the capital
    // even up to U+0137 and from U+014A, odd in between and from U+0179.
    bool evenFirst = (c >= 0x100 && c <= 0x12F) || (c >= 0x132 && c <= 0x137) || (c >= 0x14A && c <= 0x177);
    bool oddFirst = (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E);
    if ((evenFirst && c % 2 == 0) || (oddFirst && c % 2 == 1)) return static_cast<char16_t>(c + 1);
    return c;
}

// The Shift-JIS name as Windows 95 to Me compare it: ASCII letters without
// case, double-byte characters (whose second byte may be a letter) as they are.
std::string ShiftJisKey(const std::string& sjis) {
    std::string key = sjis;
    for (size_t i = 0; i < key.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(key[i]);
        if ((c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC)) {
            ++i;
        } else if (c >= 'A' && c <= 'Z') {
            key[i] = static_cast<char>(c - 'A' + 'a');
        }
    }
    return key;
}

bool IsAscii(const std::string& text) {
    for (unsigned char c : text) {
        if (c >= 0x80) return false;
    }
    return true;
}

// The first character of a UTF-8 text.
std::string FirstCharacter(const std::string& utf8) {
    unsigned char lead = static_cast<unsigned char>(utf8[0]);
    return utf8.substr(0, lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1);
}

// libarchive (bsdtar and the archivers built on it) refuses an entry whose
// UTF-16 name record begins with a zero byte: a first unit with a low byte
// of 0, such as U+0100 or U+4E00.
bool BeginsWithZeroByte(const std::u16string& part) { return !part.empty() && (part[0] & 0xFF) == 0; }

class Planner {
public:
    Planner(std::vector<PlannedEntry>* entries, const WarnFn& warn) : entries_(entries), warn_(warn) {}

    bool Add(const std::string& diskPath, const std::string& name, std::string* error) {
        hostfs::FileInfo info;
        std::string reason;
        if (!hostfs::Stat(diskPath, &info, &reason)) {
            *error = SystemError(diskPath, "cannot read", reason);
            return false;
        }
        bool folder = info.folder;
        if (!folder && !info.regular) {
            *error = Quoted(diskPath) + ": neither a file nor a folder";
            return false;
        }
        PlannedEntry entry;
        entry.diskPath = diskPath;
        entry.name = name;
        entry.folder = folder;
        entry.size = info.size;
        if (!CheckName(&entry, error)) return false;
        entries_->push_back(entry);
        if (!folder) return true;

        return AddContents(diskPath, name + "/", error);
    }

    // Every entry of a folder, by name, as `prefix` + its name: the folder
    // itself gets no entry when `prefix` is empty (packing ".").
    bool AddContents(const std::string& diskPath, const std::string& prefix, std::string* error) {
        std::vector<std::string> children;
        std::string reason;
        if (!hostfs::ListFolder(diskPath, &children, &reason)) {
            *error = SystemError(diskPath, "cannot list the folder", reason);
            return false;
        }
        std::sort(children.begin(), children.end());
        for (const std::string& child : children) {
            if (!Add(diskPath + "/" + child, prefix + child, error)) return false;
        }
        return true;
    }

private:
    bool CheckName(PlannedEntry* entry, std::string* error) {
        std::vector<std::string> parts;
        NameParts(entry->name, &parts);
        for (const std::string& part : parts) {
            std::string bad = BadCharacter(part);
            if (!bad.empty()) {
                *error = Quoted(entry->name) + ": the " + bad + " cannot be part of a Windows file name";
                return false;
            }
        }
        ArchiveName converted;
        if (!ConvertName(entry->name, &converted, error)) return false;
        entry->sjisName = converted.sjis;
        if (entry->sjisName.size() > MAX_NAME_BYTES) {
            *error = Quoted(entry->name) + ": the name takes " + std::to_string(entry->sjisName.size()) +
                     " bytes in Shift-JIS; at most " + std::to_string(MAX_NAME_BYTES) + " can be extracted";
            return false;
        }
        if (converted.utf16.size() > MAX_NAME_UNITS) {
            *error = Quoted(entry->name) + ": the name takes " + std::to_string(converted.utf16.size()) +
                     " UTF-16 units; at most " + std::to_string(MAX_NAME_UNITS) + " can be extracted";
            return false;
        }
        std::u16string key = converted.utf16;
        for (char16_t& c : key) c = FoldCase(c);
        if (!seen_.insert(key).second) {
            *error = Quoted(entry->name) + ": packed twice (names that differ only in case count as one)";
            return false;
        }
        // Different names may still share their Shift-JIS form once '_'
        // stands for what it lacks.
        auto shared = sjisSeen_.emplace(ShiftJisKey(entry->sjisName), entry->name);
        if (!shared.second) {
            Warn(Quoted(shared.first->second) + " and " + Quoted(entry->name) + " are both " +
                 Quoted(NameToUtf8(entry->sjisName)) +
                 " in Shift-JIS: Windows 95 to Me, which read only the Shift-JIS name, would extract them as one file");
        }
        if (!IsAscii(entry->name)) PlanUnicodeName(entry, converted.utf16);
        return true;
    }

    // The UTF-16 records of the entry. One that would begin with a zero byte
    // is left out and the other one kept: a reader takes a part without a
    // UTF-16 record from the Shift-JIS record, so the other part still gets
    // its real name. A folder record begins with the entry's top folder, so
    // the warning comes once for each such folder.
    void PlanUnicodeName(PlannedEntry* entry, const std::u16string& utf16) {
        size_t slash = entry->folder ? utf16.size() : utf16.rfind(u'/');
        if (slash != std::u16string::npos) entry->unicodeDirectory = utf16.substr(0, slash);
        if (!entry->folder) entry->unicodeFile = utf16.substr(slash == std::u16string::npos ? 0 : slash + 1);
        if (BeginsWithZeroByte(entry->unicodeFile)) {
            size_t at = entry->name.rfind('/') + 1;
            Warn(ZeroByteWarning(entry->name, entry->name.substr(at), "file name") + "the file name is stored in " +
                 "Shift-JIS only, as " + Quoted(NameToUtf8(entry->sjisName.substr(entry->sjisName.rfind('/') + 1))));
            entry->unicodeFile.clear();
        }
        if (BeginsWithZeroByte(entry->unicodeDirectory)) {
            std::string top = entry->name.substr(0, entry->name.find('/'));
            if (warnedFolders_.insert(top).second) {
                Warn(ZeroByteWarning(entry->name + (entry->folder ? "/" : ""), top, "folder name") +
                     "the folder part of every entry in " + Quoted(top + "/") + " is stored in Shift-JIS only, " +
                     Quoted(top) + " as " + Quoted(NameToUtf8(entry->sjisName.substr(0, entry->sjisName.find('/')))));
            }
            entry->unicodeDirectory.clear();
        }
    }

    static std::string ZeroByteWarning(const std::string& entry, const std::string& part, const char* what) {
        return Quoted(entry) + ": its UTF-16 " + what + " would begin with a zero byte (the low byte of " +
               Quoted(FirstCharacter(part)) + "), which libarchive (bsdtar) refuses; ";
    }

    void Warn(const std::string& message) {
        if (warn_) warn_(message);
    }

    std::vector<PlannedEntry>* entries_;
    const WarnFn& warn_;
    std::set<std::u16string> seen_;                // names as Windows compares them
    std::map<std::string, std::string> sjisSeen_;  // Shift-JIS names as Windows 95 to Me compare them: the first name of each
    std::set<std::string> warnedFolders_;          // top folders whose UTF-16 record was left out
};

// The name records of the entry's header.
void SetNames(const PlannedEntry& entry, EntryHeader* h) {
    size_t slash = entry.folder ? entry.sjisName.size() : entry.sjisName.rfind('/');
    h->directory = slash == std::string::npos ? "" : entry.sjisName.substr(0, slash);
    h->file = entry.folder ? "" : entry.sjisName.substr(slash == std::string::npos ? 0 : slash + 1);
    h->unicodeDirectory = entry.unicodeDirectory;
    h->unicodeFile = entry.unicodeFile;
}

struct FileCloser {
    void operator()(FILE* f) const {
        if (f != nullptr) fclose(f);
    }
};
using FileHandle = std::unique_ptr<FILE, FileCloser>;

class Writer {
public:
    Writer(FILE* out, const WriteOptions& options, const ProgressFn& progress, uint64_t total)
        : out_(out), options_(options), progress_(progress), total_(total) {
        tuning_ = options.tuning ? *options.tuning : DefaultTuning(options.method);
        threads_ = ThreadCount(tuning_);
    }

    bool AddFolder(const PlannedEntry& entry, std::string* error) {
        if (!WritePending(0, error)) return false;
        EntryHeader h;
        h.method = 'd';
        h.attributes = ATTRIBUTE_DIRECTORY;
        hostfs::FileInfo info;
        std::string reason;
        if (hostfs::Stat(entry.diskPath, &info, &reason)) SetTimes(info, &h);
        SetNames(entry, &h);
        return Put(BuildHeader(h), error);
    }

    bool AddFile(const PlannedEntry& entry, std::string* error) {
        bool small = options_.method != Method::Lh0 && entry.size != 0 && entry.size <= SMALL_FILE;
        if (small && threads_ > 1) return QueueSmallFile(entry, error);
        if (!WritePending(0, error)) return false;
        FileHandle in(hostfs::OpenFile(entry.diskPath, "rb"));
        hostfs::FileInfo info;
        std::string reason = in ? "" : hostfs::LastError();
        if (!in || !hostfs::Stat(in.get(), &info, &reason)) {
            *error = SystemError(entry.diskPath, "cannot open", reason);
            return false;
        }
        EntryHeader h;
        PlanFileHeader(entry, info, &h);

        int64_t start = hostfs::Tell(out_);
        bool compress = options_.method != Method::Lh0 && h.originalSize != 0;
        h.method = compress ? MethodLetter(options_.method) : '0';
        if (start < 0 || !Put(BuildHeader(h), error)) return Failed(error);

        uint64_t produced = 0;
        uint64_t read = 0;
        uint16_t crc = 0;
        Encoder* encoder = compress ? StartEncoder(&produced) : nullptr;
        std::vector<uint8_t> buffer(READ_CHUNK);
        tooBig_ = false;
        for (;;) {
            size_t n = fread(buffer.data(), 1, buffer.size(), in.get());
            if (n == 0) break;
            crc = Crc16(buffer.data(), n, crc);
            read += n;
            done_ += n;
            if (encoder) {
                encoder->Write(buffer.data(), n);
                // Stop when it cannot pay any more, or when a long stretch has
                // saved nothing: of the input coded so far, the encoder holds
                // back at most one block of output, a little over 64 KiB for
                // incompressible input.
                uint64_t coded = read - encoder->inputHeld();
                bool hopeless = options_.giveUpAfter != 0 && coded >= options_.giveUpAfter &&
                                produced + PENDING_OUTPUT >= coded;
                if (produced >= h.originalSize || hopeless) {
                    tooBig_ = true;
                    produced = h.originalSize;  // store it
                    break;
                }
            } else if (fwrite(buffer.data(), 1, n, out_) != n) {
                writeFailed_ = true;
            }
            if (writeFailed_) return Failed(error);
            if (progress_) progress_(done_, total_, entry.name);
        }
        if (ferror(in.get())) {
            *error = SystemError(entry.diskPath, "cannot read", hostfs::LastError());
            return false;
        }
        if (!tooBig_ && read != h.originalSize) {
            *error = Quoted(entry.diskPath) + ": the file changed while it was being packed";
            return false;
        }
        if (encoder) {
            if (!tooBig_) {
                encoder->Finish();
                fileEncoderFinished_ = true;
            }
            if (writeFailed_) return Failed(error);
            // Compression does not pay: store the bytes instead.
            if (produced >= h.originalSize &&
                !StoreInstead(entry, in.get(), start, read, &buffer, &h, &produced, &crc, error)) {
                return false;
            }
        } else {
            produced = read;
        }
        h.compressedSize = produced;
        h.dataCrc = crc;
        int64_t endOfData = hostfs::Tell(out_);
        if (endOfData < 0 || !hostfs::Seek(out_, start) || !Put(BuildHeader(h), error) ||
            !hostfs::Seek(out_, endOfData)) {
            return Failed(error);
        }
        return true;
    }

    // The header of a file entry, its sizes and CRC still unknown.
    void PlanFileHeader(const PlannedEntry& entry, const hostfs::FileInfo& info, EntryHeader* h) {
        SetTimes(info, h);
        h->attributes = ATTRIBUTE_ARCHIVE | (info.readOnly ? ATTRIBUTE_READ_ONLY : 0);
        SetNames(entry, h);
        h->originalSize = info.size;
        // The header is written twice, first with sizes and CRC unknown, so
        // its size must not depend on them.
        h->largeSizes = NeedsLargeSize(h->originalSize);
    }

    // The encoder of a file compressed on its own, started anew: it writes
    // straight behind the header and counts what it produced in `produced`.
    // The one of the last such file is used again, with its memory.
    Encoder* StartEncoder(uint64_t* produced) {
        ByteSink sink = [this, produced](const uint8_t* data, size_t size) {
            *produced += size;
            // While compression still pays, keep writing; once the
            // output reaches the input size the entry is stored.
            if (!writeFailed_ && !tooBig_) {
                if (fwrite(data, 1, size, out_) != size) writeFailed_ = true;
            }
        };
        // One left half-way (given up on, or a failure) cannot be restarted.
        if (fileEncoder_ && fileEncoderFinished_) fileEncoder_->Restart(std::move(sink));
        else fileEncoder_.reset(new Encoder(options_.method, std::move(sink), tuning_));
        fileEncoderFinished_ = false;
        return fileEncoder_.get();
    }

    // Writes the header again as stored and copies the file behind it. Its
    // `read` bytes were counted already; the copy reports nothing.
    bool StoreInstead(const PlannedEntry& entry, FILE* in, int64_t start, uint64_t read,
                      std::vector<uint8_t>* buffer, EntryHeader* h, uint64_t* produced, uint16_t* crc,
                      std::string* error) {
        h->method = '0';
        *produced = 0;
        *crc = 0;
        if (!hostfs::Seek(out_, start) || !Put(BuildHeader(*h), error)) return Failed(error);
        rewind(in);
        for (;;) {
            size_t n = fread(buffer->data(), 1, buffer->size(), in);
            if (n == 0) break;
            *crc = Crc16(buffer->data(), n, *crc);
            *produced += n;
            if (fwrite(buffer->data(), 1, n, out_) != n) return Failed(error);
        }
        if (*produced != h->originalSize) {
            *error = Quoted(entry.diskPath) + ": the file changed while it was being packed";
            return false;
        }
        done_ += *produced - read;
        return true;
    }

    // Writes the batches of small files still being compressed, oldest
    // first, until at most `keep` are left; with 0, the batch still being
    // collected too.
    bool WritePending(size_t keep, std::string* error) {
        if (keep == 0 && !StartBatch(error)) return false;
        while (pending_.size() > keep) {
            std::unique_ptr<SmallBatch> batch = std::move(pending_.front());
            pending_.pop_front();
            batch->thread.Join();
            for (SmallFile& file : batch->files) {
                if (!WriteSmallFile(*batch, file, error)) return false;
            }
            batch->files.clear();
            batch->data.clear();
            batch->packed.clear();
            spareBatches_.push_back(std::move(batch));
        }
        return true;
    }

    bool Put(const std::string& bytes, std::string* error) {
        if (fwrite(bytes.data(), 1, bytes.size(), out_) != bytes.size()) return Failed(error);
        return true;
    }

    bool Failed(std::string* error) {
        *error = "cannot write the archive: " + hostfs::LastError();
        return false;
    }

    void Report(const std::string& name) {
        if (progress_) progress_(done_, total_, name);
    }

private:
    // A small file read whole into its batch: where its bytes and, once the
    // batch is done, its compressed form lie in the batch's buffers.
    struct SmallFile {
        EntryHeader header;
        std::string name;
        size_t dataAt = 0;
        size_t packedAt = 0;
        size_t packedSize = 0;
    };
    // Small files compressed one after the other on one thread, with one
    // encoder that keeps its tables from file to file. Their bytes lie back
    // to back in one buffer, their compressed forms in another; a batch that
    // is written is used again, buffers and all, so that many small files do
    // not each touch fresh memory.
    struct SmallBatch {
        std::vector<SmallFile> files;
        std::vector<uint8_t> data;
        std::vector<uint8_t> packed;
        std::unique_ptr<Encoder> encoder;
        WorkerThread thread;  // last, so that it is joined before the rest goes
    };

    // Reads the file into the batch being collected, and starts the batch
    // once it is big enough.
    bool QueueSmallFile(const PlannedEntry& entry, std::string* error) {
        SmallFile file;
        FileHandle in(hostfs::OpenFile(entry.diskPath, "rb"));
        hostfs::FileInfo info;
        std::string reason = in ? "" : hostfs::LastError();
        if (!in || !hostfs::Stat(in.get(), &info, &reason)) {
            *error = SystemError(entry.diskPath, "cannot open", reason);
            return false;
        }
        EntryHeader& h = file.header;
        PlanFileHeader(entry, info, &h);
        if (!collecting_) collecting_ = SpareBatch();
        std::vector<uint8_t>& data = collecting_->data;
        file.dataAt = data.size();
        // One byte more than the size: a file that grew is caught too.
        data.resize(file.dataAt + static_cast<size_t>(info.size) + 1);
        size_t n = fread(data.data() + file.dataAt, 1, static_cast<size_t>(info.size) + 1, in.get());
        if (ferror(in.get())) {
            *error = SystemError(entry.diskPath, "cannot read", hostfs::LastError());
            return false;
        }
        if (n != info.size) {
            *error = Quoted(entry.diskPath) + ": the file changed while it was being packed";
            return false;
        }
        data.resize(file.dataAt + n);
        h.dataCrc = Crc16(data.data() + file.dataAt, n);
        file.name = entry.name;
        collecting_->files.push_back(std::move(file));
        if (data.size() < BATCH_BYTES && collecting_->files.size() < BATCH_FILES) return true;
        return StartBatch(error);
    }

    // Starts compressing the batch collected so far on its thread, once
    // fewer than `threads_` others are.
    bool StartBatch(std::string* error) {
        if (!collecting_) return true;
        if (!WritePending(static_cast<size_t>(threads_) - 1, error)) return false;
        SmallBatch* b = collecting_.get();
        auto job = [b] {
            for (SmallFile& f : b->files) {
                f.packedAt = b->packed.size();
                b->encoder->Restart(
                    [b](const uint8_t* bytes, size_t n) { b->packed.insert(b->packed.end(), bytes, bytes + n); });
                b->encoder->Write(b->data.data() + f.dataAt, static_cast<size_t>(f.header.originalSize));
                b->encoder->Finish();
                f.packedSize = b->packed.size() - f.packedAt;
            }
        };
        if (!b->thread.Start(job)) job();
        pending_.push_back(std::move(collecting_));
        return true;
    }

    // One that an earlier batch is done with, or a new one.
    std::unique_ptr<SmallBatch> SpareBatch() {
        if (spareBatches_.empty()) {
            std::unique_ptr<SmallBatch> batch(new SmallBatch);
            // The most a batch holds, so that its buffers are not copied as
            // they grow; pages are touched only as they fill.
            batch->data.reserve(BATCH_BYTES + SMALL_FILE + 1);
            batch->packed.reserve(BATCH_BYTES + SMALL_FILE);
            EncoderTuning one = tuning_;
            one.threads = 1;
            batch->encoder.reset(new Encoder(options_.method, nullptr, one));
            return batch;
        }
        std::unique_ptr<SmallBatch> batch = std::move(spareBatches_.back());
        spareBatches_.pop_back();
        return batch;
    }

    // The header and the compressed data of a small file, or its bytes
    // stored when compression does not pay.
    bool WriteSmallFile(const SmallBatch& batch, SmallFile& file, std::string* error) {
        EntryHeader& h = file.header;
        bool stored = file.packedSize >= h.originalSize;
        h.method = stored ? '0' : MethodLetter(options_.method);
        const uint8_t* bytes = stored ? batch.data.data() + file.dataAt : batch.packed.data() + file.packedAt;
        size_t size = stored ? static_cast<size_t>(h.originalSize) : file.packedSize;
        h.compressedSize = size;
        if (!Put(BuildHeader(h), error)) return false;
        if (fwrite(bytes, 1, size, out_) != size) return Failed(error);
        done_ += h.originalSize;
        if (progress_) progress_(done_, total_, file.name);
        return true;
    }

    void SetTimes(const hostfs::FileInfo& info, EntryHeader* h) const {
        bool fractions = options_.subsecondTimes;
        h->lastWrite.seconds = info.writeSeconds;
        h->lastWrite.nanoseconds = fractions ? info.writeNanoseconds : 0;
        h->lastAccess.seconds = info.accessSeconds;
        h->lastAccess.nanoseconds = fractions ? info.accessNanoseconds : 0;
        if (options_.latestTime) {
            Clamp(*options_.latestTime, &h->lastWrite);
            Clamp(*options_.latestTime, &h->lastAccess);
        }
    }

    static void Clamp(int64_t latest, EntryTime* time) {
        if (time->seconds < latest) return;
        time->seconds = latest;
        time->nanoseconds = 0;
    }

    FILE* out_;
    WriteOptions options_;
    const ProgressFn& progress_;
    uint64_t total_;
    uint64_t done_ = 0;
    bool writeFailed_ = false;
    bool tooBig_ = false;
    EncoderTuning tuning_;
    int threads_ = 1;
    std::vector<std::unique_ptr<SmallBatch>> spareBatches_;
    std::unique_ptr<SmallBatch> collecting_;          // small files read, not started yet
    std::deque<std::unique_ptr<SmallBatch>> pending_;  // started, oldest first
    std::unique_ptr<Encoder> fileEncoder_;  // of the last file compressed on its own
    bool fileEncoderFinished_ = false;
};

}  // namespace

bool PlanEntries(const std::vector<InputPath>& inputs, std::vector<PlannedEntry>* entries, std::string* error,
                 const WarnFn& warn) {
    Planner planner(entries, warn);
    for (const InputPath& input : inputs) {
        std::string source = input.archiveName.empty() ? input.path : input.archiveName;
        std::vector<std::string> parts;
        if (!NameParts(source, &parts)) {
            *error = Quoted(source) + ": a name in the archive cannot contain \"..\"";
            return false;
        }
        if (parts.empty()) {
            // "." (or "./", "././") is the current folder: its contents go to
            // the top of the archive. "/" and "" have no name of their own.
            bool current = input.archiveName.empty() && !input.path.empty() && input.path[0] != '/';
            if (!current) {
                *error = Quoted(input.path) + ": give the name it should have in the archive";
                return false;
            }
            if (!planner.AddContents(input.path, "", error)) return false;
            continue;
        }
        std::string name;
        if (input.archiveName.empty()) {
            name = parts.back();
        } else {
            for (const std::string& part : parts) name += (name.empty() ? "" : "/") + part;
        }
        if (!planner.Add(input.path, name, error)) return false;
    }
    return true;
}

bool WriteArchive(FILE* out, const std::vector<InputPath>& inputs, const WriteOptions& options,
                  std::string& error, const ProgressFn& progress) {
    std::vector<PlannedEntry> entries;
    if (!PlanEntries(inputs, &entries, &error, options.warn)) return false;
    uint64_t total = 0;
    for (const PlannedEntry& entry : entries) total += entry.size;

    Writer writer(out, options, progress, total);
    for (const PlannedEntry& entry : entries) {
        writer.Report(entry.name);
        if (!(entry.folder ? writer.AddFolder(entry, &error) : writer.AddFile(entry, &error))) return false;
    }
    if (!writer.WritePending(0, &error)) return false;
    if (!entries.empty()) writer.Report(entries.back().name);  // a stored fallback may not have reported its end
    if (!writer.Put(std::string(1, '\0'), &error)) return false;  // the end marker
    if (fflush(out) != 0) return writer.Failed(&error);
    int64_t end = hostfs::Tell(out);
    hostfs::FileInfo info;
    std::string reason;
    if (end >= 0 && hostfs::Stat(out, &info, &reason) && info.regular && info.size > static_cast<uint64_t>(end)) {
        if (!hostfs::Truncate(out, static_cast<uint64_t>(end))) return writer.Failed(&error);
    }
    return true;
}

bool WriteArchive(FILE* out, const std::vector<InputPath>& inputs, Method method, std::string& error,
                  const ProgressFn& progress) {
    WriteOptions options;
    options.method = method;
    return WriteArchive(out, inputs, options, error, progress);
}

}  // namespace lzh
