// ImageLock: the one lock that serialises image loading. The decoders keep their state in
// static storage and report through the single LoadInfo record, so every image load, cache
// access and use of the load results happens while holding it, on either pane thread or on
// the main thread. It is never held across a message pump. The one exception: the decoding
// threads of a folder load decode JPEG files with decoders and load records of their own,
// without it, and hand the results to the loading thread. A cache write compresses its
// records into a file aside without it too, and holds it only to put that file in place
// and update the cache index.
// Windows: a critical section; native builds: a std::mutex.
#pragma once

void initImageLock();    // start-up, before the pane threads start
void deleteImageLock();  // shutdown, after the pane threads ended
void lockImages();
void unlockImages();
// Takes the lock only when no other thread holds it; true when taken (then unlockImages).
// A pane thread waits for the lock in a loop of tries and pumps, so that its queue and its
// stop request never wait for another thread's whole hold.
bool tryLockImages();

class ImageLockGuard {
public:
    ImageLockGuard() { lockImages(); }
    ~ImageLockGuard() { unlockImages(); }
    ImageLockGuard(const ImageLockGuard&) = delete;
    ImageLockGuard& operator=(const ImageLockGuard&) = delete;
};
