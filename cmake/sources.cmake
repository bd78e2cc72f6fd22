# The core's portable files: no Windows header, so the same list builds the host tests
# (cmake/host.cmake), the program and the bench driver (cmake/windows.cmake) and the fuzz
# targets (scripts/fuzz.sh reads the list from here: one file a line, as below).
set(KELVARO_PORTABLE_SOURCES
    platform/afxstr.cpp
    call/LineReader.cpp
    call/SendQueue.cpp
    call/CallCore.cpp
    call/SecureCrypto.cpp
    call/SecureChannel.cpp
    call/Identity.cpp
    call/VerifiedContacts.cpp
    phonebook/DnsMessage.cpp
    phonebook/NearbyCore.cpp
    app/MessageFile.cpp
    app/LaunchRules.cpp
    phonebook/NearbyLabel.cpp
)
