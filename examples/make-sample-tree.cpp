// Writes a small tree of sample files to back up: documents (with scratch
// files and a cache folder that the sample sets leave out) and photos in
// year folders. Files already there are kept, so a second call changes
// nothing.
//
//   make-sample-tree FOLDER
#include <algorithm>
#include <cstdio>
#include <string>

#include "foundation/TBFile.h"
#include "foundation/TBFileInfo.h"
#include "foundation/TBFilename.h"
#include "foundation/TBFolder.h"

using terbin::TBFile;
using terbin::TBFilename;
using terbin::TBFolder;
using terbin::TBString;

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
        return 2;
    }
    const TBString root = TBFilename::absolute(TBString::fromBytes(argv[1]));
    const struct {
        const wchar_t* name;
        int64_t size;
    } files[] = {{L"Documents/notes.txt", 1200},
                 {L"Documents/letters/letter-1.txt", 4096},
                 {L"Documents/letters/letter-2.txt", 0},
                 {L"Documents/letters/~letter-2.txt", 300},
                 {L"Documents/report.tmp", 512},
                 {L"Documents/.cache/thumbnails.db", 20000},
                 {L"Documents/budget 2026.ods", 3 * 65536 + 17},
                 {L"Photos/2025/beach.jpg", 700000},
                 {L"Photos/2025/beach.xmp", 900},
                 {L"Photos/2026/hills.jpg", 65536 * 9},
                 {L"Photos/inbox/unsorted.jpg", 5000}};
    std::string block(65536, '\0');
    for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>('a' + (i * 7) % 26);
    int written = 0;
    for (const auto& f : files) {
        const TBString path = TBFilename::concatPaths(root, f.name);
        if (terbin::TBFileInfo::isFile(path))
            continue;
        TBFile out;
        if (TBFolder::create(TBFilename::dirname(path), true) != 0 ||
            out.open(path, TBFile::WriteMode) != 0) {
            std::fprintf(stderr, "cannot write %s\n", path.narrow().c_str());
            return 1;
        }
        for (int64_t left = f.size; left > 0;) {
            const int64_t n = std::min<int64_t>(left, static_cast<int64_t>(block.size()));
            int64_t done = 0;
            if (out.write(block.data(), n, done) != 0 || done != n) {
                std::fprintf(stderr, "cannot write %s\n", path.narrow().c_str());
                return 1;
            }
            left -= n;
        }
        ++written;
    }
    std::printf("sample tree %s: %d new file(s)\n", root.narrow().c_str(), written);
    return 0;
}
