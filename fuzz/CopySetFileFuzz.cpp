// Fuzzes the copy-set file: the reader on any bytes, read, write and read again through a real
// file, the reader fed in pieces and cut short by a failure, and the writer on any field texts.
#include "FuzzSupport.h"
#include "store/CopySetFile.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

using ostrel::CopySet;
using namespace ostrel::fuzz;

namespace {

using Sets = std::vector<CopySet>;

// The names in the scratch folder, so a save that leaves a temporary file behind is seen.
std::size_t EntryCount(const std::string& folder)
{
    std::size_t count = 0;
    DIR* dir = ::opendir(folder.c_str());
    FUZZ_CHECK(dir != nullptr);
    while (dirent* entry = ::readdir(dir)) {
        count += std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0;
    }
    ::closedir(dir);
    return count;
}

std::size_t CountOf(std::string_view text, std::string_view what)
{
    std::size_t count = 0;
    for (std::size_t at = text.find(what); at != std::string_view::npos; at = text.find(what, at + 1)) {
        ++count;
    }
    return count;
}

// What is read from any bytes can be stored, is written as three TABs and a CR LF per row, and
// reads back as the same rows, which write back as the same bytes.
std::string CheckStableParse(std::string_view bytes, const Sets& first)
{
    for (const CopySet& set : first) {
        FUZZ_CHECK(ostrel::CanStoreCopySet(set));
    }
    std::string formatted = ostrel::FormatCopySets(first);
    FUZZ_CHECK(CountOf(formatted, "\r\n") == first.size());
    FUZZ_CHECK(CountOf(formatted, "\t") >= 3 * first.size());
    FUZZ_CHECK(first.empty() == formatted.empty());
    Sets second = ostrel::ParseCopySets(formatted);
    FUZZ_CHECK(second == first);
    FUZZ_CHECK(ostrel::FormatCopySets(second) == formatted);
    // Nothing but the dropped CRs, the line ends and what follows a 0x1A is lost: every row's
    // fields are in the bytes.
    for (const CopySet& set : first) {
        FUZZ_CHECK(set.source.size() + set.target.size() + set.volumeName.size() <= bytes.size());
    }
    return formatted;
}

// The reader gets the same rows whatever sizes the pieces come in, with EINTR between them; cut
// short by a failure it keeps exactly the complete lines before it.
void CheckPiecewiseReading(std::string_view bytes, const Sets& whole, InputRandom& random)
{
    const bool fail = random.Below(1) == 1;
    const std::size_t failAfter = random.Below(bytes.size());
    std::size_t position = 0;
    auto read = [&](char* buffer, std::size_t size) -> std::ptrdiff_t {
        if (random.Below(7) == 0) {
            errno = EINTR;
            return -1;
        }
        std::size_t end = fail ? failAfter : bytes.size();
        if (position >= end) {
            if (fail) {
                errno = EIO;
                return -1;
            }
            return 0;
        }
        // Pieces of a few bytes at most a few dozen times: every call makes the reader clear a
        // whole read block.
        std::size_t piece =
            std::min({size, end - position, 1 + random.Below(std::max<std::size_t>(3, bytes.size() / 16))});
        std::memcpy(buffer, bytes.data() + position, piece);
        position += piece;
        return static_cast<std::ptrdiff_t>(piece);
    };
    Sets sets{CopySet{"kept", "row", " ", ""}};
    int error = ostrel::ReadCopySets(read, sets);
    FUZZ_CHECK(!sets.empty() && sets.front() == (CopySet{"kept", "row", " ", ""}));
    sets.erase(sets.begin());

    std::string_view delivered = bytes.substr(0, fail ? failAfter : bytes.size());
    if (!fail || delivered.find('\x1a') != std::string_view::npos) {
        // A 0x1A ends the list before the failure could be met.
        FUZZ_CHECK(error == 0);
        FUZZ_CHECK(sets == whole);
        return;
    }
    FUZZ_CHECK(error == EIO);
    std::size_t lineFeed = delivered.rfind('\n');
    std::string_view complete = delivered.substr(0, lineFeed == std::string_view::npos ? 0 : lineFeed + 1);
    FUZZ_CHECK(sets == ostrel::ParseCopySets(complete));
    FUZZ_CHECK(sets.size() <= whole.size());
    FUZZ_CHECK(std::equal(sets.begin(), sets.end(), whole.begin()));
}

// Read, write and read again through a real file: the second read equals the first and a second
// write gives the same bytes.
void CheckFileRoundTrip(std::string_view bytes, const Sets& first, const std::string& formatted)
{
    const std::string& folder = ScratchFolder::Path();
    const std::string path = folder + "/velmor.dat";
    PutFileBytes(path, bytes);
    Sets read;
    FUZZ_CHECK(ostrel::ReadCopySetFile(path, read) == 0);
    FUZZ_CHECK(read == first);
    FUZZ_CHECK(ostrel::WriteCopySetFile(path, read) == 0);
    FUZZ_CHECK(FileBytes(path) == formatted);
    Sets again;
    FUZZ_CHECK(ostrel::ReadCopySetFile(path, again) == 0);
    FUZZ_CHECK(again == first);
    FUZZ_CHECK(ostrel::WriteCopySetFile(path, again) == 0);
    FUZZ_CHECK(FileBytes(path) == formatted);
    FUZZ_CHECK(EntryCount(folder) == 1);
}

// Rows made of any texts: the writer stores exactly those that read back unchanged and refuses a
// list holding any other before it touches the file.
void CheckArbitraryFields(std::string_view input)
{
    Sets sets;
    std::vector<std::string> fields;
    for (std::string_view rest = input;;) {
        std::size_t nul = rest.find('\0');
        fields.emplace_back(rest.substr(0, nul));
        if (nul == std::string_view::npos) {
            break;
        }
        rest.remove_prefix(nul + 1);
    }
    if (fields.size() < 4) {
        return;
    }
    bool storable = true;
    for (std::size_t i = 0; i + 3 < fields.size(); i += 4) {
        CopySet set{fields[i], fields[i + 1], fields[i + 2], fields[i + 3]};
        bool canStore = ostrel::CanStoreCopySet(set);
        if (canStore) {
            FUZZ_CHECK(ostrel::ParseCopySets(ostrel::FormatCopySets({set})) == Sets{set});
        }
        storable = storable && canStore;
        sets.push_back(std::move(set));
    }
    const std::string& folder = ScratchFolder::Path();
    const std::string path = folder + "/velmor.dat";
    const std::string before = "before\tthe\t \tsave\r\n";
    PutFileBytes(path, before);
    int error = ostrel::WriteCopySetFile(path, sets);
    if (storable) {
        FUZZ_CHECK(error == 0);
        Sets read;
        FUZZ_CHECK(ostrel::ReadCopySetFile(path, read) == 0);
        FUZZ_CHECK(read == sets);
    } else {
        FUZZ_CHECK(error == EINVAL);
        FUZZ_CHECK(FileBytes(path) == before);
    }
    FUZZ_CHECK(EntryCount(folder) == 1);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    InputRandom random(bytes);
    Sets first = ostrel::ParseCopySets(bytes);
    std::string formatted = CheckStableParse(bytes, first);
    CheckPiecewiseReading(bytes, first, random);
    // The real file costs a fresh read block per read, so one input in four goes through it.
    if (random.Below(3) == 0) {
        CheckFileRoundTrip(bytes, first, formatted);
        CheckArbitraryFields(bytes);
    }
    return 0;
}
