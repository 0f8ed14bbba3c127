#pragma once

// The wait while one recipient is served: the main window locked and the wait window over it,
// on screen before the send blocks on the child. Destroying it closes the wait window and
// unlocks the main window.
class SendWait
{
public:
    virtual ~SendWait() = default;
};
