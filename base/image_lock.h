// ImageLock: the one lock that serialises image loading. The decoders keep their state in
// static storage and report through the single LoadInfo record, so every image load, cache
// access and use of the load results happens while holding it, on either pane thread or on
// the main thread. It is never held across a message pump.
// Windows: a critical section; native builds: a std::mutex.
#pragma once

void initImageLock();    // start-up, before the pane threads start
void deleteImageLock();  // shutdown, after the pane threads ended
void lockImages();
void unlockImages();

class ImageLockGuard {
public:
    ImageLockGuard() { lockImages(); }
    ~ImageLockGuard() { unlockImages(); }
    ImageLockGuard(const ImageLockGuard&) = delete;
    ImageLockGuard& operator=(const ImageLockGuard&) = delete;
};
