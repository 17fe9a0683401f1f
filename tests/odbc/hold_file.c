/* Holds a file open as a program that does not share deletion would (an
 * editor, a backup, a virus scanner): reading it, sharing reading and writing
 * only, until standard input ends. Prints "holding" once the file is open. */
#include <windows.h>

#include <stdio.h>

int wmain(int argc, wchar_t **argv) {
    HANDLE file;
    char buffer[16];
    if (argc != 2) {
        fprintf(stderr, "usage: hold_file FILE\n");
        return 2;
    }
    file = CreateFileW(argv[1], GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) {
        fprintf(stderr, "hold_file: cannot open the file (error %lu)\n", GetLastError());
        return 1;
    }
    printf("holding\n");
    fflush(stdout);
    while (fgets(buffer, sizeof buffer, stdin) != NULL) {
    }
    CloseHandle(file);
    return 0;
}
