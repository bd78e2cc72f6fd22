// What the call buttons and the status display show in each state of a call, as the tests of
// every layer write it: "call:on hangup:off answer:off status:hidden".
#pragma once

const char kIdle[] = "call:on hangup:off answer:off status:hidden";
const char kDialling[] = "call:on hangup:on answer:off status:calling";
const char kCalling[] = "call:off hangup:on answer:off status:calling";
const char kTalking[] = "call:off hangup:on answer:off status:hidden";
const char kTurnedAway[] = "call:off hangup:on answer:off status:busy";
const char kRinging[] = "call:off hangup:on answer:on status:calling";
const char kAway[] = "call:off hangup:on answer:off status:away";
