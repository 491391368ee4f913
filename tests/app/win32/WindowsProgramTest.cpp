// KesuUpdate.exe on Windows, run as the lobby runs it: from an installation whose path holds
// Chinese characters, blanks and a '%', against a server on 127.0.0.1, with a stand-in lobby
// (Maravel.exe, and a window of the lobby's class in this process). Built for Windows only.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <thread>

#include "digest/MD5Checksum.h"
#include "platform/Path.h"
#include "platform/win32/Wide.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestServer.h"
#include "tests/support/ZipBuilder.h"
#include "tests/support/win32/UserConnectionSettings.h"

namespace fs = std::filesystem;

namespace {

constexpr UINT kLobbyMessage = WM_USER + 100;
const std::wstring kCaption = L"\u63D0\u793A";  // 提示

// The lobby's window: a window of class "ZRMaravel" on a thread of its own, which records the
// lobby's message.
class LobbyWindow {
public:
    LobbyWindow()
    {
        m_thread = std::thread([this] { Run(); });
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [this] { return m_window != nullptr; });
    }
    ~LobbyWindow()
    {
        PostMessageW(m_window, WM_CLOSE, 0, 0);
        m_thread.join();
    }
    // The parameters of the first lobby message, waiting up to 20 s for it; {-1, -1} when none came.
    std::pair<long long, long long> WaitForMessage()
    {
        std::unique_lock lock(m_mutex);
        m_changed.wait_for(lock, std::chrono::seconds(20), [this] { return m_received; });
        return m_received ? m_parameters : std::pair<long long, long long>{-1, -1};
    }

private:
    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
    {
        auto* self = reinterpret_cast<LobbyWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
        if (message == kLobbyMessage && self) {
            std::lock_guard lock(self->m_mutex);
            if (!self->m_received)
                self->m_parameters = {static_cast<long long>(wParam), static_cast<long long>(lParam)};
            self->m_received = true;
            self->m_changed.notify_all();
            return 0;
        }
        if (message == WM_CLOSE) {
            DestroyWindow(window);
            PostQuitMessage(0);
            return 0;
        }
        return DefWindowProcW(window, message, wParam, lParam);
    }
    void Run()
    {
        WNDCLASSW windowClass{};
        windowClass.lpfnWndProc = Procedure;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.lpszClassName = L"ZRMaravel";
        RegisterClassW(&windowClass);
        HWND window = CreateWindowExW(0, L"ZRMaravel", L"Maravel", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr, nullptr,
                                      GetModuleHandleW(nullptr), nullptr);
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
        {
            std::lock_guard lock(m_mutex);
            m_window = window;
        }
        m_changed.notify_all();
        MSG message;
        while (GetMessageW(&message, nullptr, 0, 0) > 0)
            DispatchMessageW(&message);
    }

    std::thread m_thread;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    HWND m_window = nullptr;
    bool m_received = false;
    std::pair<long long, long long> m_parameters{-1, -1};
};

// The process's visible top-level window with this title, or null.
HWND FindWindowOf(DWORD process, const std::wstring& title)
{
    struct Search {
        DWORD process;
        const std::wstring* title;
        HWND found = nullptr;
    } search{process, &title};
    EnumWindows(
        [](HWND window, LPARAM data) -> BOOL {
            auto* s = reinterpret_cast<Search*>(data);
            DWORD owner = 0;
            GetWindowThreadProcessId(window, &owner);
            wchar_t text[64] = {};
            GetWindowTextW(window, text, 64);
            if (owner == s->process && IsWindowVisible(window) && *s->title == text)
                s->found = window;
            return s->found == nullptr;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// The pixels (0x00RRGGBB) of a bitmap of the updater's resources, or of a window as it shows.
struct Pixels {
    int width = 0, height = 0;
    std::vector<std::uint32_t> rgb;
    std::uint32_t At(int x, int y) const { return rgb[static_cast<std::size_t>(y) * width + x] & 0xFFFFFF; }
};

Pixels Capture(HDC source, int width, int height)
{
    Pixels pixels{width, height, std::vector<std::uint32_t>(static_cast<std::size_t>(width) * height)};
    BITMAPINFO info{};
    info.bmiHeader = {sizeof info.bmiHeader, width, -height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    HBITMAP target = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HDC memory = CreateCompatibleDC(nullptr);
    HGDIOBJ previous = SelectObject(memory, target);
    BitBlt(memory, 0, 0, width, height, source, 0, 0, SRCCOPY);
    GdiFlush();
    std::copy_n(static_cast<std::uint32_t*>(bits), pixels.rgb.size(), pixels.rgb.begin());
    SelectObject(memory, previous);
    DeleteDC(memory);
    DeleteObject(target);
    return pixels;
}

Pixels ResourceBitmap(const fs::path& program, int id)
{
    HMODULE module = LoadLibraryExW(program.wstring().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    HBITMAP bitmap = static_cast<HBITMAP>(LoadImageW(module, MAKEINTRESOURCEW(id), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
    BITMAP facts{};
    GetObjectW(bitmap, sizeof facts, &facts);
    HDC memory = CreateCompatibleDC(nullptr);
    HGDIOBJ previous = SelectObject(memory, bitmap);
    Pixels pixels = Capture(memory, facts.bmWidth, facts.bmHeight);
    SelectObject(memory, previous);
    DeleteDC(memory);
    DeleteObject(bitmap);
    FreeLibrary(module);
    return pixels;
}

Pixels WindowPixels(HWND window)
{
    RECT client{};
    GetClientRect(window, &client);
    HDC dc = GetDC(window);
    Pixels pixels = Capture(dc, client.right, client.bottom);
    ReleaseDC(window, dc);
    return pixels;
}

// Pixels of the window that differ from the bitmap, outside the rectangles given.
int Differences(const Pixels& shown, const Pixels& expected, std::initializer_list<RECT> except)
{
    if (shown.width != expected.width || shown.height != expected.height)
        return -1;
    int differences = 0;
    for (int y = 0; y < shown.height; ++y)
        for (int x = 0; x < shown.width; ++x) {
            const bool skipped = std::any_of(except.begin(), except.end(), [&](const RECT& r) {
                return x >= r.left && x < r.right && y >= r.top && y < r.bottom;
            });
            differences += !skipped && shown.At(x, y) != expected.At(x, y);
        }
    return differences;
}

// What a run showed: the message boxes it put up (answered with Enter as they came).
struct ProgramRun {
    bool ended = false;
    int boxes = 0;
    std::chrono::steady_clock::time_point endedAt{};
};

class WindowsProgramTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Reinstall();
        // Served from memory: httplib opens files by narrow names, which Windows reads in its code page.
        server.Http().Get(".*", [this](const httplib::Request& request, httplib::Response& response) {
            std::lock_guard lock(served);
            // Asked for as a proxy is, by the whole URL: the connection is noted, and the file
            // served as its server would.
            std::string path = request.path;
            if (path.starts_with("http://")) {
                path.erase(0, path.find('/', std::strlen("http://")));
                proxiedConnections.insert(request.remote_port);
            }
            asked.insert(path);
            auto file = published.find(path);
            if (file == published.end())
                response.status = 404;
            else if (!stalled.count(request.path))
                response.set_content(file->second, "application/octet-stream");
            else  // a slow download: its first 64 KiB, then nothing until the server stops
                response.set_content_provider(file->second.size(), "application/octet-stream",
                                              [this, part = file->second.substr(0, 65536)](std::size_t, std::size_t, httplib::DataSink& sink) {
                                                  sink.write(part.data(), part.size());
                                                  server.Stall(std::chrono::seconds(60));
                                                  return false;
                                              });
        });
        server.Start();
        Configure();
    }
    // A fresh installation: the updater, the stand-in lobby and (once the server runs) the settings.
    void Reinstall()
    {
        install = root.Path() / PathFromUtf8("\xE7\x8E\xA9\xE5\xAE\xB6/My Games/\xE6\xB8\xB8\xE6\x88\x8F \xE5\xA4\xA7\xE5\x8E\x85 100%");
        fs::remove_all(install);
        fs::create_directories(install);
        fs::copy_file(KESU_UPDATER_EXE, install / "KesuUpdate.exe");
        fs::copy_file(KESU_LOBBY_EXE, install / "Maravel.exe");
        if (server.Port())
            Configure();
    }
    void Configure()
    {
        WriteFile(install / "pirvex.dll", "[Download]\r\nsite1=127.0.0.1:" + std::to_string(server.Port()) + "\r\n[Setup]\r\nTempDir=tmp\r\n");
    }

    static void WriteFile(const fs::path& path, const std::string& contents)
    {
        fs::create_directories(path.parent_path());
        std::ofstream(path, std::ios::binary) << contents;
    }
    std::string Installed(const std::string& utf8Name) const { return ReadWholeFile(install / PathFromUtf8(utf8Name)); }
    bool Has(const std::string& utf8Name) const { return fs::exists(install / PathFromUtf8(utf8Name)); }

    void Serve(const std::string& path, const std::string& contents)
    {
        std::lock_guard lock(served);
        published["/update/" + path] = contents;
    }
    // Publishes a file under update/ and lists it in the manifest (update.xml, and Game7.xml).
    void Publish(const std::string& name, const std::string& contents)
    {
        std::string path = name;
        std::replace(path.begin(), path.end(), '\\', '/');
        Serve(path, contents);
        CMD5Checksum md5;
        md5.Update(contents.data(), contents.size());
        entries += "<file filename=\"" + name + "\" filesize=\"" + std::to_string(contents.size()) +
                   "\" fileversion=\"1\" md5=\"" + CMD5Checksum::ToHex(md5.Final()) + "\"/>";
        const std::string manifest = "<manifest><filelist>" + entries + "</filelist></manifest>";
        Serve("update.xml", manifest);
        Serve("Game7.xml", manifest);
    }

    // Runs the program in the installation as the lobby starts it, answering each message box
    // with Enter and calling `watch` with the process while it runs; killed after 90 s.
    ProgramRun Run(const std::wstring& arguments = L"", const std::function<void(DWORD)>& watch = {})
    {
        std::wstring line = L"\"" + (install / "KesuUpdate.exe").wstring() + L"\" " + arguments;
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process{};
        ProgramRun run;
        if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, install.wstring().c_str(), &startup, &process)) {
            ADD_FAILURE() << "KesuUpdate.exe did not start: error " << GetLastError();
            return run;
        }
        HWND answered = nullptr;
        for (int tick = 0; tick < 900 && !run.ended; ++tick) {
            run.ended = WaitForSingleObject(process.hProcess, 100) == WAIT_OBJECT_0;
            run.endedAt = std::chrono::steady_clock::now();
            if (HWND box = run.ended ? nullptr : FindWindowOf(process.dwProcessId, kCaption); box && box != answered) {
                ++run.boxes;
                answered = box;
                PostMessageW(box, WM_KEYDOWN, VK_RETURN, 0);
            }
            if (watch && !run.ended)
                watch(process.dwProcessId);
        }
        if (!run.ended)
            TerminateProcess(process.hProcess, 1);
        WaitForSingleObject(process.hProcess, INFINITE);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
        return run;
    }
    // Once `ready`, asks the window eight times whether it answers (SendMessageTimeout, 1 s each),
    // as Windows does before it calls a window "Not Responding", then closes it from outside, as
    // Alt+F4 does; each call says whether it was answered.
    std::function<void(DWORD)> AskThenClose(const std::function<bool()>& ready, std::vector<bool>& answers)
    {
        return [this, ready, &answers](DWORD process) {
            HWND window = FindWindowOf(process, L"KesuUpdate");
            if (!window || !answers.empty() || !ready())
                return;
            for (int call = 0; call < 8; ++call) {
                DWORD_PTR result = 0;
                answers.push_back(SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 1000, &result) != 0);
            }
            PostMessageW(window, WM_CLOSE, 0, 0);
            closedAt = std::chrono::steady_clock::now();
        };
    }
    // How the window answered and how soon the run ended after its close, for whoever reads the
    // test's output.
    void SayHowTheWindowAnswered(const ProgramRun& run, const std::vector<bool>& answers) const
    {
        const auto answered = std::count(answers.begin(), answers.end(), true);
        const auto afterClose = std::chrono::duration_cast<std::chrono::milliseconds>(run.endedAt - closedAt).count();
        std::printf("%d of %d calls answered; the run %s %lld ms after WM_CLOSE was posted\n", static_cast<int>(answered),
                    static_cast<int>(answers.size()), run.ended ? "ended" : "had not ended",
                    static_cast<long long>(afterClose));
    }
    std::string Log() const { return Installed("tmp/KesuUpdate.log"); }
    // The arguments the stand-in lobby was started with, waiting up to 20 s; empty when none.
    std::string LobbyArguments() const
    {
        for (int tick = 0; tick < 200 && !Has("lobby-arguments"); ++tick)
            Sleep(100);  // the lobby is another process: its file is the only sign
        return Has("lobby-arguments") ? Installed("lobby-arguments") : "";
    }

    TempDir root;
    fs::path install;
    std::chrono::steady_clock::time_point closedAt{};  // when AskThenClose posted its close
    std::mutex served;
    std::map<std::string, std::string> published;  // by path
    std::set<std::string> stalled;                  // paths served slowly
    std::set<int> proxiedConnections;               // the ports of the clients that asked as of a proxy
    std::set<std::string> asked;                    // the paths asked for
    TestServer server;
    std::string entries;
};

TEST_F(WindowsProgramTest, TheDefaultUpdateInstallsItsFilesAndStartsTheLobbyAgain)
{
    WriteFile(install / "readme.txt", "old");
    Publish("readme.txt", "new readme");
    Publish("\xE8\xAF\xB4\xE6\x98\x8E.txt", "\xE4\xB8\xAD\xE6\x96\x87");  // 说明.txt
    Publish("data\\map\\town.dat", std::string(100000, 't'));

    const ProgramRun run = Run();
    ASSERT_TRUE(run.ended);
    EXPECT_EQ(run.boxes, 0) << Log();
    EXPECT_EQ(Installed("readme.txt"), "new readme");
    EXPECT_EQ(Installed("\xE8\xAF\xB4\xE6\x98\x8E.txt"), "\xE4\xB8\xAD\xE6\x96\x87");
    EXPECT_EQ(Installed("data/map/town.dat"), std::string(100000, 't'));
    EXPECT_EQ(LobbyArguments(), "-KesuUpdate_old.exe\n");
    EXPECT_NE(Log().find(" end: the update is installed\n"), std::string::npos) << Log();
    EXPECT_EQ(Log().find("could not"), std::string::npos) << Log();
}

// The proxy of Windows' settings carries every connection of the run: the server the settings
// name cannot be reached but through it, and the downloads share several connections.
TEST_F(WindowsProgramTest, EveryConnectionGoesThroughTheProxyOfWindowsSettings)
{
    ClosedPort unreachable;
    WriteFile(install / "pirvex.dll", "[Download]\r\nsite1=127.0.0.1:" + std::to_string(unreachable.Port()) + "\r\n[Setup]\r\nTempDir=tmp\r\n");
    UserConnectionSettings settings;
    settings.Set(ConnectionSettings("127.0.0.1:" + std::to_string(server.Port()), ""));
    constexpr int kFiles = 16;
    for (int i = 0; i < kFiles; ++i)
        Publish("data\\f" + std::to_string(i) + ".bin", std::string(256 * 1024, static_cast<char>('a' + i)));

    const ProgramRun run = Run();
    ASSERT_TRUE(run.ended);
    EXPECT_EQ(run.boxes, 0) << Log();
    for (int i = 0; i < kFiles; ++i)
        EXPECT_EQ(Installed("data/f" + std::to_string(i) + ".bin"), std::string(256 * 1024, static_cast<char>('a' + i))) << Log();
    std::lock_guard lock(served);
    EXPECT_GT(proxiedConnections.size(), 1u) << "the downloads shared one connection";
}

// While the run waits for its manifest the window answers (Windows calls a window that does not
// answer for 5 s "Not Responding"), and a close from outside ends the run as a cancel does: no
// box, no lobby, nothing installed, the request dropped.
TEST_F(WindowsProgramTest, WhileTheManifestStallsTheWindowAnswersAndACloseEndsTheRun)
{
    Publish("readme.txt", "new readme");
    // Longer than what a stalled answer sends before it stalls.
    Serve("update.xml", "<manifest><filelist>" + entries + "</filelist></manifest><!--" + std::string(100000, ' ') + "-->");
    {
        std::lock_guard lock(served);
        stalled.insert("/update/update.xml");
    }
    std::vector<bool> answers;
    const ProgramRun run = Run(L"", AskThenClose([this] { return server.Stalling() > 0; }, answers));
    SayHowTheWindowAnswered(run, answers);
    ASSERT_TRUE(run.ended);
    EXPECT_EQ(answers, std::vector<bool>(8, true));
    EXPECT_EQ(run.boxes, 0) << Log();
    EXPECT_EQ(server.Stalling(), 1) << "the run ended only with the manifest's answer";
    EXPECT_FALSE(Has("readme.txt"));
    EXPECT_FALSE(Has("lobby-arguments"));
    EXPECT_NE(Log().find(" end: cancelled before the downloads began\n"), std::string::npos) << Log();
}

// The same during a long first check: eight sparse files of 2 GiB take far longer to read than
// the test takes to ask, and the close stops the check.
TEST_F(WindowsProgramTest, DuringALongFirstCheckTheWindowAnswersAndACloseStopsTheCheck)
{
    std::string manifest;
    for (int i = 0; i < 8; ++i) {
        const std::string name = "data/big" + std::to_string(i) + ".dat";
        WriteFile(install / PathFromUtf8(name), "");
        fs::resize_file(install / PathFromUtf8(name), 2ull << 30);
        manifest += "<file filename=\"" + name + "\" filesize=\"5\" fileversion=\"1\" md5=\"0123456789abcdef0123456789abcdef\"/>";
    }
    Serve("update.xml", "<manifest><filelist>" + manifest + "</filelist></manifest>");
    const auto manifestServed = [this] {
        std::lock_guard lock(served);
        return asked.count("/update/update.xml") > 0;
    };
    std::vector<bool> answers;
    const ProgramRun run = Run(L"", AskThenClose(manifestServed, answers));
    SayHowTheWindowAnswered(run, answers);
    ASSERT_TRUE(run.ended);
    EXPECT_EQ(answers, std::vector<bool>(8, true));
    EXPECT_EQ(run.boxes, 0) << Log();
    EXPECT_FALSE(Has("lobby-arguments"));
    EXPECT_NE(Log().find("the check of the installed files was stopped"), std::string::npos) << Log();
    EXPECT_NE(Log().find(" end: cancelled before the downloads began\n"), std::string::npos) << Log();
}

TEST_F(WindowsProgramTest, ANamedUpdatePostsTheLobbysMessageWithItsNumbers)
{
    LobbyWindow lobby;
    Publish("readme.txt", "new readme");
    const ProgramRun run = Run(L"Game7.dat 12 34");
    ASSERT_TRUE(run.ended);
    EXPECT_EQ(Installed("readme.txt"), "new readme");
    EXPECT_EQ(lobby.WaitForMessage(), (std::pair<long long, long long>{12, 34}));
    // The lobby that asked is told instead of started; a default run starts it, once.
    ASSERT_TRUE(Run().ended);
    EXPECT_EQ(LobbyArguments(), "-KesuUpdate_old.exe\n");
}

TEST_F(WindowsProgramTest, ANewUpdaterReplacesTheRunningOneWhichIsSetAside)
{
    const std::string old = Installed("KesuUpdate.exe");
    const std::string next = old + "new build";  // still a program for this machine, which runs
    Publish("KesuUpdate.exe", next);
    ASSERT_TRUE(Run().ended);
    EXPECT_TRUE(Installed("KesuUpdate.exe") == next) << Log();
    EXPECT_TRUE(Installed("KesuUpdate_old.exe") == old);

    // The new copy runs, finds itself up to date and leaves the set-aside copy alone.
    ASSERT_TRUE(Run().ended);
    EXPECT_TRUE(Installed("KesuUpdate_old.exe") == old);
    const std::string log = Log();
    EXPECT_EQ(log.substr(log.rfind(" end: ")).find(" end: failed"), std::string::npos) << log;
}

// Killed after any move of the installation, the updater is there under its name, and the next
// start finishes the installation from its journal, with the old copy set aside. (Between the
// running program's rename into staging and the new one's move there is no KesuUpdate.exe:
// Windows leaves that instant, and no kill here falls into it.)
TEST_F(WindowsProgramTest, ASelfUpdateKilledAfterAnyMoveIsFinishedByTheNextStart)
{
    const std::string old = Installed("KesuUpdate.exe");
    const std::string next = old + "new build";
    Publish("a.txt", "new a");
    Publish("KesuUpdate.exe", next);
    Publish("b.txt", "new b");
    for (int moves = 1; moves <= 3; ++moves) {
        Reinstall();
        SetEnvironmentVariableW(L"KESU_TEST_KILL_AFTER_MOVES", std::to_wstring(moves).c_str());
        const ProgramRun killed = Run();
        SetEnvironmentVariableW(L"KESU_TEST_KILL_AFTER_MOVES", nullptr);
        ASSERT_TRUE(killed.ended) << moves;
        EXPECT_TRUE(Installed("KesuUpdate.exe") == (moves >= 2 ? next : old)) << moves << Log();
        EXPECT_FALSE(Has("KesuUpdate_old.exe")) << moves;

        ASSERT_TRUE(Run().ended) << moves;
        EXPECT_TRUE(Installed("KesuUpdate.exe") == next) << moves;
        EXPECT_TRUE(Installed("KesuUpdate_old.exe") == old) << moves;
        EXPECT_EQ(Installed("a.txt"), "new a") << moves;
        EXPECT_EQ(Installed("b.txt"), "new b") << moves;
        EXPECT_NE(Log().find("the stopped installation is finished"), std::string::npos) << moves << Log();
    }
}

TEST_F(WindowsProgramTest, APackageIsUnpackedIntoTheInstallation)
{
    WriteZip(Utf8OfPath(root.Path() / "Game7.zip"),
             {{"maps/harbour.map", "harbour"}, {"\xE5\x9C\xB0\xE5\x9B\xBE/\xE6\xB8\xAF.map", "port"}});
    Serve("Game7.zip", ReadWholeFile(root.Path() / "Game7.zip"));
    ASSERT_TRUE(Run(L"Game7.dat 1 2 -install").ended);
    EXPECT_EQ(Installed("maps/harbour.map"), "harbour") << Log();
    EXPECT_EQ(Installed("\xE5\x9C\xB0\xE5\x9B\xBE/\xE6\xB8\xAF.map"), "port");
    EXPECT_FALSE(Has("tmp/Game7.zip"));
}

// A package's copy of the updater replaces the running one too: the old one is set aside.
TEST_F(WindowsProgramTest, APackageHoldingTheUpdaterReplacesTheRunningOne)
{
    const std::string old = Installed("KesuUpdate.exe");
    const std::string next = old + "new build";
    WriteZip(Utf8OfPath(root.Path() / "Game7.zip"), {{"KesuUpdate.exe", next}, {"maps/harbour.map", "harbour"}});
    Serve("Game7.zip", ReadWholeFile(root.Path() / "Game7.zip"));
    ASSERT_TRUE(Run(L"Game7.dat 1 2 -install").ended);
    EXPECT_TRUE(Installed("KesuUpdate.exe") == next) << Log();
    EXPECT_TRUE(Installed("KesuUpdate_old.exe") == old);
    EXPECT_EQ(Installed("maps/harbour.map"), "harbour");
    EXPECT_FALSE(Has("tmp/.KesuUpdate.staging"));
}

// A file the game holds open cannot be replaced, nor read when it shares nothing: the player is
// told to close the game, and nothing of the update stays installed.
TEST_F(WindowsProgramTest, AFileTheGameHoldsOpenStopsTheUpdateWhichIsUndone)
{
    Publish("a.txt", "new a");
    Publish("game.dat", "new game");
    const std::string closeTheGame = "\xE6\x96\x87\xE4\xBB\xB6\xE6\xAD\xA3\xE8\xA2\xAB\xE5\x85\xB6\xE4\xBB\x96"
                                     "\xE7\xA8\x8B\xE5\xBA\x8F\xE4\xBD\xBF\xE7\x94\xA8";  // 文件正被其他程序使用
    for (const DWORD sharing : {DWORD{FILE_SHARE_READ}, DWORD{0}}) {  // read while the game runs, or not at all
        Reinstall();
        WriteFile(install / "a.txt", "old a");
        WriteFile(install / "game.dat", "old game");
        const HANDLE held = CreateFileW((install / "game.dat").wstring().c_str(), GENERIC_READ, sharing, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(held, INVALID_HANDLE_VALUE);
        const ProgramRun run = Run();
        CloseHandle(held);
        EXPECT_TRUE(run.ended) << sharing;
        EXPECT_GE(run.boxes, 1) << sharing;
        EXPECT_EQ(Installed("a.txt"), "old a") << sharing;
        EXPECT_EQ(Installed("game.dat"), "old game") << sharing;
        const std::string log = Log();
        EXPECT_NE(log.substr(log.rfind(" end: ")).find(closeTheGame), std::string::npos) << Log();
    }
}

TEST_F(WindowsProgramTest, AMissingManifestShowsABoxAndTheRunEndsWhenItIsAnswered)
{
    const ProgramRun run = Run();
    EXPECT_TRUE(run.ended);
    EXPECT_GE(run.boxes, 1);
    EXPECT_NE(Log().find("update.xml: 404"), std::string::npos) << Log();
}

// During a slow download the borderless window shows the download panel, as the same skin is
// drawn on Linux (the panel's own pixels outside the texts, bars and button), and its cancel
// button ends the run.
TEST_F(WindowsProgramTest, DuringASlowDownloadTheSkinnedWindowShowsAndItsCancelButtonEndsTheRun)
{
    Publish("slow.dat", std::string(1 << 20, 's'));
    stalled.insert("/update/slow.dat");
    const Pixels panel = ResourceBitmap(install / "KesuUpdate.exe", 131);
    ASSERT_EQ(panel.width, 368);
    const RECT status{102, 9, 345, 21}, detail{18, 68, 267, 80}, cancel{282, 65, 351, 86}, file{15, 29, 351, 43},
        total{15, 47, 351, 61};
    int differences = -2;
    LONG_PTR style = 0;
    bool cancelled = false;
    const ProgramRun run = Run(L"", [&](DWORD process) {
        HWND window = FindWindowOf(process, L"KesuUpdate");
        if (!window || cancelled || server.Stalling() == 0)
            return;
        style = GetWindowLongPtrW(window, GWL_STYLE);
        differences = Differences(WindowPixels(window), panel, {status, detail, cancel, file, total});
        if (differences != 0)
            return;  // the panel is not painted yet
        PostMessageW(window, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(316, 75));
        PostMessageW(window, WM_LBUTTONUP, 0, MAKELPARAM(316, 75));
        cancelled = true;
    });
    EXPECT_TRUE(run.ended);
    EXPECT_EQ(differences, 0);
    EXPECT_TRUE(style & WS_POPUP);
    EXPECT_FALSE(style & WS_CAPTION);
    EXPECT_TRUE(cancelled);
    EXPECT_NE(Log().find(" end: cancelled\n"), std::string::npos) << Log();
}

}  // namespace
