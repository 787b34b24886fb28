// Files the playlist tests make in a folder of their own under the temporary folder, removed
// newest first; and the file name box of the system's open and save dialogs.
#pragma once

#include <windows.h>
#include <dlgs.h>

#include <string>
#include <vector>

class TempFiles {
protected:
    void makeTempFolder(const char* prefix) {
        char temp[MAX_PATH] = "";
        GetTempPathA(sizeof temp, temp);
        folder = std::string(temp) + prefix + std::to_string(GetCurrentProcessId());
        makeFolder(folder);
    }
    void removeTempFiles() {
        for (auto it = created.rbegin(); it != created.rend(); ++it)
            if (!DeleteFileW(wide(*it).c_str()))
                RemoveDirectoryW(wide(*it).c_str());
        created.clear();
    }
    void makeFolder(const std::string& path) {
        CreateDirectoryA(path.c_str(), nullptr);
        created.push_back(path);
    }
    // Writes the bytes to the path (UTF-8, any length with \\?\); returns the path.
    std::string makeFile(const std::string& path, const std::string& bytes = "") {
        HANDLE file = CreateFileW(wide(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        DWORD written = 0;
        WriteFile(file, bytes.data(), (DWORD)bytes.size(), &written, nullptr);
        CloseHandle(file);
        created.push_back(path);
        return path;
    }

    // The system's 8-bit calls take no more than MAX_PATH.
    static std::wstring wide(const std::string& text) {
        std::wstring out(text.size() + 1, L'\0');
        out.resize(
            (size_t)MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, out.data(), (int)out.size()) -
            1);
        return out;
    }

    std::string folder;
    std::vector<std::string> created;
};

// The combo box of the current dialogs, or the edit box of the older ones.
inline HWND fileNameBox(HWND dialog) {
    HWND box = GetDlgItem(dialog, cmb13);
    return box ? box : GetDlgItem(dialog, edt1);
}
