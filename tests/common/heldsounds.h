#pragma once

#include <QCoreApplication>
#include <QSemaphore>
#include <QThread>

#include <atomic>
#include <memory>

#include "app/sound.h"

// Holds the sound players' thread where it makes a player, as a media back end that does not
// answer would, until Release() (or for `boundMsecs` at most, so that a fault cannot hang a
// test). Services made while it lives are held; the real back end comes back when it goes.
class HeldSoundBackEnd
{
public:
    explicit HeldSoundBackEnd(int boundMsecs = 30000) : state(std::make_shared<State>())
    {
        Sound::Service::SetBeforeLoad([state = state, boundMsecs](const QString&) {
            state->inGuiThread = state->inGuiThread || QThread::currentThread() == qApp->thread();
            ++state->entered;
            if (state->release.tryAcquire(1, boundMsecs))
                state->release.release(); // the next player passes too
            ++state->left;
        });
    }
    ~HeldSoundBackEnd()
    {
        Sound::Service::SetBeforeLoad(nullptr);
        Release();
    }

    void Release() { state->release.release(); }
    // Players the back end began to make, and finished making.
    int Entered() const { return state->entered; }
    int Left() const { return state->left; }
    // Whether a player was ever made in the window's thread.
    bool InGuiThread() const { return state->inGuiThread; }

private:
    struct State
    {
        QSemaphore release;
        std::atomic<int> entered{0};
        std::atomic<int> left{0};
        std::atomic<bool> inGuiThread{false};
    };
    std::shared_ptr<State> state; // shared with threads that may outlive this object
};
