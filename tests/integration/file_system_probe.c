/* Asks Wine's own kernel32, shlwapi and shell32 what the file functions answer in a prefix,
 * so the tests can hold the prefix file system's answers against Wine's. Every argument is a
 * query "kind:argument"; each answer is one line "kind:argument<TAB>answer" in UTF-8. */
#include <windows.h>
#include <shlobj.h>
#include <shlwapi.h>

static void Write(const WCHAR* text) {
    char buffer[8192];
    int length = WideCharToMultiByte(CP_UTF8, 0, text, -1, buffer, sizeof buffer, NULL, NULL);
    DWORD written;
    if (length > 1) WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), buffer, length - 1, &written, NULL);
}

static void Answer(const WCHAR* query, const WCHAR* answer) {
    Write(query);
    Write(L"\t");
    Write(answer);
    Write(L"\n");
}

int wmain(int argc, WCHAR** argv) {
    WCHAR out[4096];
    for (int i = 1; i < argc; ++i) {
        const WCHAR* query = argv[i];
        const WCHAR* argument = wcschr(query, L':') ? wcschr(query, L':') + 1 : L"";
        out[0] = 0;
        if (!wcsncmp(query, L"drives:", 7)) {
            DWORD length = GetLogicalDriveStringsW(4096, out);
            for (DWORD k = 0; k + 1 < length; ++k)
                if (!out[k]) out[k] = L'|';
        } else if (!wcsncmp(query, L"type:", 5)) {
            wsprintfW(out, L"%u", GetDriveTypeW(argument));
        } else if (!wcsncmp(query, L"device:", 7)) {
            if (!QueryDosDeviceW(argument, out, 4096)) lstrcpyW(out, L"-");
        } else if (!wcsncmp(query, L"windows:", 8)) {
            GetWindowsDirectoryW(out, 4096);
        } else if (!wcsncmp(query, L"system:", 7)) {
            GetSystemDirectoryW(out, 4096);
        } else if (!wcsncmp(query, L"wow64:", 6)) {
            if (!GetSystemWow64DirectoryW(out, 4096)) lstrcpyW(out, L"-");
        } else if (!wcsncmp(query, L"expand:", 7)) {
            ExpandEnvironmentStringsW(argument, out, 4096);
        } else if (!wcsncmp(query, L"csidl:", 6)) {
            LPITEMIDLIST list = NULL;
            if (SHGetSpecialFolderLocation(NULL, _wtoi(argument), &list) != S_OK ||
                !SHGetPathFromIDListW(list, out))
                lstrcpyW(out, L"-");
            if (list) CoTaskMemFree(list);
        } else if (!wcsncmp(query, L"attributes:", 11)) {
            DWORD attributes = GetFileAttributesW(argument);
            if (attributes == INVALID_FILE_ATTRIBUTES)
                wsprintfW(out, L"error %u", GetLastError());
            else
                wsprintfW(out, L"%x", attributes);
        } else if (!wcsncmp(query, L"search:", 7)) {
            if (!SearchPathW(NULL, argument, L".exe", 4096, out, NULL)) lstrcpyW(out, L"-");
        } else if (!wcsncmp(query, L"findonpath:", 11)) {
            lstrcpynW(out, argument, MAX_PATH);
            if (!PathFindOnPathW(out, NULL)) lstrcpyW(out, L"-");
        } else {
            lstrcpyW(out, L"unknown query");
        }
        Answer(query, out);
    }
    return 0;
}
