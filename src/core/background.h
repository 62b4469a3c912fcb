#pragma once

#include <sys/resource.h>
#include <unistd.h>

namespace auralist {

// Makes the calling thread yield to the window's thread and the sound's:
// scanning and header reading are background work, and on a machine with
// few cores they must not take the time the window needs to answer.
inline void becomeBackgroundThread()
{
    // Linux keeps a nice value per thread; failure only means no change.
    (void)::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), 10);
}

} // namespace auralist
