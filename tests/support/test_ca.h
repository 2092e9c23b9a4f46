#pragma once

#include "temp_dir.h"

#include <chrono>
#include <string>
#include <vector>

// A certificate authority made for one test run, and the server certificates it issues.
// Everything lives in PEM files in a private temporary directory.
class TestCa {
public:
    struct Certificate {
        std::string certificatePath;
        std::string keyPath;
    };

    // Valid from an hour ago for a day, unless a test asks for an expired one.
    struct Validity {
        std::chrono::seconds notBefore{-3600};
        std::chrono::seconds notAfter{24 * 3600};
    };

    TestCa();

    // The CA certificate, to hand to the client as its trust anchor.
    const std::string& certificatePath() const { return caCertificate_.certificatePath; }

    // A server certificate for the given DNS names, signed by this CA.
    Certificate issue(const std::vector<std::string>& hostNames, Validity validity) const;
    Certificate issue(const std::vector<std::string>& hostNames) const {
        return issue(hostNames, Validity{});
    }

private:
    TempDir dir_;
    Certificate caCertificate_;
    mutable int issued_ = 0;
};
