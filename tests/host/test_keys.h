// Keys of the RFCs' own test vectors, as the host tests of secure calls and identities use them.
#pragma once

#include <string>

inline std::string Unhex(const std::string& hex)
{
    std::string out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) out += (char)std::stoi(hex.substr(i, 2), nullptr, 16);
    return out;
}

inline const unsigned char* Bytes(const std::string& s)
{
    return reinterpret_cast<const unsigned char*>(s.data());
}

// RFC 7748 section 6.1 (X25519).
const std::string kAliceSecret = Unhex("77076d0a7318a57d3c16c17251b26645df4c2f87ebc0992ab177fba51db92c2a");
const std::string kBobSecret = Unhex("5dab087e624a8a4b79e17f8b83800ee66f3bb1292618b6fd1c2f8b27ff88e0eb");
// RFC 8032 section 7.1, tests 1 and 2 (Ed25519).
const std::string kIdentity1 = Unhex("9d61b19deffd5a60ba844af492ec2cc44449c5697b326919703bac031cae7f60");
const std::string kIdentity2 = Unhex("4ccd089b28ff96da9db6c346ec114e0f5b8a319f35aba624da8cf6ed4fb8a6fb");
