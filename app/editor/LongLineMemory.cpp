#include "LongLineMemory.h"

#include <QCoreApplication>
#include <QTimer>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace pelorin {

namespace {

int holders = 0;
bool kept = false;
// Counts the releases asked for, so that a release overtaken by a new holder does nothing.
unsigned releaseRequests = 0;

void keep() {
    if (kept)
        return;
    kept = true;
#if defined(__GLIBC__)
    mallopt(M_MMAP_MAX, 0);
    mallopt(M_TRIM_THRESHOLD, 1 << 30);
#endif
}

void release() {
    if (!kept || holders > 0)
        return;
    kept = false;
#if defined(__GLIBC__)
    // The values of glibc's defaults. Once set, glibc no longer raises its
    // mmap threshold by itself: big blocks get their own mapping from 128 KB on.
    mallopt(M_MMAP_MAX, 65536);
    mallopt(M_TRIM_THRESHOLD, 128 * 1024);
    malloc_trim(0);
#endif
}

}  // namespace

LongLineMemory::LongLineMemory() {
    ++holders;
    keep();
}

LongLineMemory::~LongLineMemory() {
    if (--holders > 0)
        return;
    QCoreApplication* app = QCoreApplication::instance();
    if (!app) {
        release();
        return;
    }
    const unsigned request = ++releaseRequests;
    QTimer::singleShot(ReleaseDelayMs, app, [request] {
        if (request == releaseRequests)
            release();
    });
}

}  // namespace pelorin
