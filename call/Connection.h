// What the main window keeps for one call connection besides its socket: how its received bytes
// are read, what waits to be sent, and where a flood of received lines stands.
#pragma once

#include "call/LineReader.h"
#include "call/SendQueue.h"

#include <winsock2.h>

struct CConnection {
    CLineReader reader;
    CSendQueue queue { WSAEWOULDBLOCK };
    bool bInTurn = false; // its bytes are being read and listed now (a modal box may nest)
    bool bMoreWaiting = false; // the last turn stopped before the socket ran dry
    bool bPeerClosed = false; // the partner closed: the call ends once what arrived is listed
    unsigned nGeneration = 0; // counts connections, so a turn notices that its own has ended

    void Reset()
    {
        reader.Reset();
        queue.Clear();
        bInTurn = false;
        bMoreWaiting = false;
        bPeerClosed = false;
        ++nGeneration;
    }
};
