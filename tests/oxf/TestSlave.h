#pragma once
// This test binary doubles as a slave: a master starts it with the single argument
// "--master-link=<pad>", and ORVEX_TEST_SLAVE chooses what it does:
//   "fx"            the real entry (mainOXF) with the test batch processor below
//   "stream"        handshake; on M2S_Run (8 bytes: stream size) ask for the stream with
//                   S2M_GetChannel, receive and check it, reply S2M_Done with the block number of
//                   the last block and whether the pattern held
//   "hang"          handshake, then sleep without answering
//   "die"           handshake, then exit with code 7 on the first request
//   "bad-stream"    handshake; on M2S_Run send a data stream block numbered 5
//
// The test batch processor reads `batch { mode ... }`: "box" fails the run with the selection box
// and whether a selection came ("box L T R B sel"), "invert" inverts the colour channels where the
// selection is not zero, "cancel" and "fail" end the run quietly or with an error, "mask" reports
// getMask with resize ("mask W H L T R B").

#include <cstdint>
#include <string>

int runTestSlave(int argc, char** argv);
uint8_t streamPattern(size_t i);
