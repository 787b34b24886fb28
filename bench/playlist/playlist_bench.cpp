// Reads an M3U8 of N lines (100,000 unless given) into a hidden list box, as a drop of it would,
// and prints how long that took. The lines name 100 real files, or with "missing" as the second
// argument files that are not there: half in the list's folder, half in a folder that is not.
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "app/state.h"
#include "playlist/playlist_file.h"

int main(int argc, char** argv) {
    int lines = argc > 1 ? atoi(argv[1]) : 100000;
    const bool missing = argc > 2 && strcmp(argv[2], "missing") == 0;
    char temp[MAX_PATH] = "";
    GetTempPathA(sizeof temp, temp);
    std::string folder = std::string(temp) + "qvbench-" + std::to_string(GetCurrentProcessId());
    CreateDirectoryA(folder.c_str(), nullptr);
    const int files = 100;
    for (int i = 0; i < files; ++i) {
        std::string name = folder + "\\track" + std::to_string(i) + ".ogg";
        CloseHandle(
            CreateFileA(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    }
    std::string text = "#EXTM3U\n";
    for (int i = 1; i < lines; ++i) {
        if (missing)
            text += (i % 2 ? "gone" + std::to_string(i) + ".ogg\n"
                           : "D:\\Elsewhere\\Album" + std::to_string(i % 50) + "\\gone" +
                                 std::to_string(i) + ".ogg\n");
        else
            text += (i % 2 ? "track" + std::to_string(i % files) + ".ogg\n"
                           : folder + "\\track" + std::to_string(i % files) + ".ogg\n");
    }
    std::string list = folder + "\\big.m3u8";
    HANDLE out = CreateFileA(list.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    WriteFile(out, text.data(), (DWORD)text.size(), &written, nullptr);
    CloseHandle(out);

    playlistBox = CreateWindowExA(0, "LISTBOX", "", WS_POPUP | WS_HSCROLL | LBS_NOINTEGRALHEIGHT, 0,
                                  0, 300, 300, nullptr, nullptr, nullptr, nullptr);
    SendMessageA(playlistBox, WM_SETREDRAW, FALSE, 0);
    LARGE_INTEGER frequency, start, end;
    FILETIME created, exited, kernelBefore, userBefore, kernelAfter, userAfter;
    QueryPerformanceFrequency(&frequency);
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernelBefore, &userBefore);
    QueryPerformanceCounter(&start);
    addPlaylistFile(list.c_str());
    QueryPerformanceCounter(&end);
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernelAfter, &userAfter);
    auto ticks = [](const FILETIME& t) {
        return (double)(((ULONGLONG)t.dwHighDateTime << 32) | t.dwLowDateTime);
    };
    double cpu =
        (ticks(kernelAfter) - ticks(kernelBefore) + ticks(userAfter) - ticks(userBefore)) / 1e7;
    int added = (int)SendMessageA(playlistBox, LB_GETCOUNT, 0, 0);
    // The machine may be busy with others: the process's own CPU time is printed beside the wall.
    printf("playlist of %d lines (%u bytes): %d entries added in %.3f s (CPU time of this "
           "process %.3f s)\n",
           lines, (unsigned)text.size(), added,
           (double)(end.QuadPart - start.QuadPart) / (double)frequency.QuadPart, cpu);
    DestroyWindow(playlistBox);

    DeleteFileA(list.c_str());
    for (int i = 0; i < files; ++i)
        DeleteFileA((folder + "\\track" + std::to_string(i) + ".ogg").c_str());
    RemoveDirectoryA(folder.c_str());
    return 0;
}
