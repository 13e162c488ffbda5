// Arbitrary bytes through the JPEG reader: header, pixels and the Exif thumbnail stamp.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>

#include "FuzzBudget.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::SetLimits();
    FILEINFO info;
    L_FileInfoMemory(data, size, &info);
    BITMAPHANDLE b;
    fuzz::Budget budget(size);
    if (L_LoadBitmapMemory(data, &b, 0, ORDER_BGR, size) == SUCCESS) L_FreeBitmap(&b);
    budget.Check();
    // The stamp is read from a path: hand the bytes over through a memory file.
    int fd = memfd_create("jpeg_fuzz", 0);
    if (fd < 0) return 0;
    char path[64];
    std::snprintf(path, sizeof path, "/proc/self/fd/%d", fd);
    if (write(fd, data, size) == ssize_t(size) && L_GetCompressFileStamp(path, &b, 0) == SUCCESS)
        L_FreeBitmap(&b);
    close(fd);
    return 0;
}
