#pragma once
// RemoteFailure: why a remote computer could not be reached or stopped answering, as far as the network
// lets us tell. Found by the invocation client, carried by the capture thread to its monitoring client and
// shown to the user in the failure alert.

enum class RemoteFailure {
    None,              // no failure known (a local client, or one that has not failed)
    HostNotFound,      // the computer's name did not resolve
    ConnectionRefused, // nothing listens at the computer's port
    NoAnswer,          // connected, but no complete reply came in time
    ConnectionClosed,  // the computer ended the connection or sent what cannot be read
    NotMonitoring,     // it answers the protocol's greeting, but describes no computer: no monitoring service
    NoSerialNumber,    // it describes a computer without a serial number, by which alone computers are told apart
};
