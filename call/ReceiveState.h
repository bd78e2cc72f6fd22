// Where reading one call's connection stands: the window reads a flood in bounded turns, and a
// partner's close waits until everything it sent before has been read.
#pragma once

struct CReceiveState {
    bool bInTurn = false; // its bytes are being read and listed now (a modal box may nest)
    bool bMoreWaiting = false; // the last turn stopped before the socket ran dry
    bool bPeerClosed = false; // the partner closed: the call ends once what arrived is listed

    void Reset() { *this = CReceiveState(); }
};
