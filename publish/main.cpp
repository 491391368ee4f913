// kesu-publish: writes the update tree of a build for any static HTTP server.
//
//   kesu-publish [options] <build directory> <tree directory>
//
//     --manifest NAME   the manifest's name (default update.xml)
//     --version TEXT    the fileversion of every entry (default 1.0)
//     --exclude PATTERN leave out files whose path or name matches (repeatable)
//     --package         also write the package, the manifest's name with .zip
//     --previous DIR    an earlier build or published tree: each changed file gets a patch from
//                       its version there, in the tree's patches directory (repeatable)
//     --patch-level N   zstd's level for the patches, 1 to 22 (default 17): higher, smaller and
//                       slower
//     --sign KEY        sign the manifest and the package with a minisign secret key: NAME.minisig
//                       beside each (an encrypted key's passphrase comes from KESU_SIGN_PASSPHRASE,
//                       else from the terminal)
//     --expires TIME    with --sign: the signatures expire after TIME (30d, 12h, 90m, 3600s or
//                       seconds), after which the updater refuses them
//
// The tree may hold an earlier publication: files that did not change are not written again.
// Serve the tree's directory as /update/ of the server named in the updater's settings.

#include <charconv>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>

#include "publish/Passphrase.h"
#include "publish/Publisher.h"
#include "publish/Signer.h"

namespace {

int Usage(const char* program)
{
    std::fprintf(stderr,
                 "usage: %s [--manifest NAME] [--version TEXT] [--exclude PATTERN]... [--package] [--previous DIR]...\n"
                 "           [--patch-level N] [--sign SECRETKEY [--expires 30d|12h|90m|3600s]] <build dir> <tree dir>\n"
                 "  an encrypted key's passphrase comes from KESU_SIGN_PASSPHRASE, else from the terminal\n",
                 program);
    return 2;
}

int Refuse(const std::string& reason)
{
    std::fprintf(stderr, "kesu-publish: %s\n", reason.c_str());
    return 2;
}

// ", 2 patches" after a count, with how many of them an earlier run made; nothing for none, so
// that a run without patches reads as before.
std::string PatchNote(std::size_t patches, std::size_t reused)
{
    if (patches == 0)
        return {};
    return ", " + std::to_string(patches) + (patches == 1 ? " patch" : " patches") +
           (reused ? " (" + std::to_string(reused) + " reused)" : "");
}

std::optional<int> Level(const char* text)
{
    int level = 0;
    const char* end = text + std::strlen(text);
    const auto [stop, error] = std::from_chars(text, end, level);
    if (error != std::errc() || stop != end || !IsPatchLevel(level))
        return std::nullopt;
    return level;
}

}  // namespace

int main(int argc, char** argv)
{
    PublishOptions options;
    std::vector<std::string> positional;
    for (int i = 1; i < argc; ++i) {
        std::string argument = argv[i];
        auto value = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
        if (argument == "--manifest" || argument == "--version" || argument == "--exclude" || argument == "--sign" ||
            argument == "--expires" || argument == "--previous" || argument == "--patch-level") {
            const char* text = value();
            if (!text)
                return Usage(argv[0]);
            if (argument == "--manifest")
                options.manifestName = text;
            else if (argument == "--version")
                options.version = text;
            else if (argument == "--exclude")
                options.excludes.push_back(text);
            else if (argument == "--previous")
                options.previousDirs.push_back(text);
            else if (argument == "--sign")
                options.signingKey = text;
            else if (argument == "--patch-level") {
                const std::optional<int> level = Level(text);
                if (!level)
                    return Refuse(std::string("--patch-level ") + text + ": not a zstd level from " + PatchLevelRange());
                options.patchLevel = *level;
            }
            else if (!(options.expiresAfter = ParseDuration(text)))
                return Refuse(std::string("--expires ") + text +
                              ": not a duration (like 30d, 12h, 90m, 3600s or a number of seconds)");
        } else if (argument == "--package") {
            options.package = true;
        } else if (argument.starts_with("--")) {
            return Usage(argv[0]);
        } else {
            positional.push_back(argument);
        }
    }
    if (positional.size() != 2)
        return Usage(argv[0]);
    if (options.expiresAfter && options.signingKey.empty())
        return Refuse("--expires is for signatures: it needs --sign");
    options.passphrase = [key = options.signingKey] { return SigningPassphrase(key); };
    options.buildDir = positional[0];
    options.treeDir = positional[1];

    std::uint64_t bytes = 0;
    std::size_t written = 0, patches = 0, reused = 0;
    PublishResult result = Publish(options, [&](std::size_t done, std::size_t total, const PublishedFile& file) {
        std::printf("[%zu/%zu] %s  %llu bytes  %s%s\n", done, total, file.name.c_str(),
                    static_cast<unsigned long long>(file.size), file.written ? "written" : "unchanged",
                    PatchNote(file.patches.size(), file.patchesReused).c_str());
        for (const std::string& note : file.patchNotes)
            std::printf("    %s\n", note.c_str());
        bytes += file.size;
        written += file.written;
        patches += file.patches.size();
        reused += file.patchesReused;
    });
    if (result.error) {
        std::fprintf(stderr, "kesu-publish: %s\n", result.error->c_str());
        return 1;
    }
    std::printf("%zu files, %.1f MB, %zu written, %zu unchanged%s; manifest %s%s%s\n", result.files.size(),
                bytes / 1e6, written, result.files.size() - written, PatchNote(patches, reused).c_str(),
                options.manifestName.c_str(),
                options.package ? " and its package" : "", options.signingKey.empty() ? "" : ", signed");
    return 0;
}
