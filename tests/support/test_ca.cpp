#include "test_ca.h"

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cstdio>
#include <memory>
#include <stdexcept>

namespace {

struct KeyDeleter {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct CertDeleter {
    void operator()(X509* cert) const { X509_free(cert); }
};
using Key = std::unique_ptr<EVP_PKEY, KeyDeleter>;
using Cert = std::unique_ptr<X509, CertDeleter>;

void check(bool ok, const char* what) {
    if (!ok) {
        throw std::runtime_error(std::string("test CA: ") + what + " failed");
    }
}

Key makeKey() {
    Key key(EVP_EC_gen("P-256"));
    check(key != nullptr, "key generation");
    return key;
}

void addExtension(X509* cert, X509* issuer, int nid, const std::string& value) {
    X509V3_CTX context;
    X509V3_set_ctx_nodb(&context);
    X509V3_set_ctx(&context, issuer, cert, nullptr, nullptr, 0);
    X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value.c_str());
    check(extension != nullptr, "extension");
    X509_add_ext(cert, extension, -1);
    X509_EXTENSION_free(extension);
}

// Signs `key`'s certificate with `issuerKey`; a CA signs its own (issuer == nullptr).
Cert makeCertificate(EVP_PKEY* key, const std::string& commonName, X509* issuer,
                     EVP_PKEY* issuerKey, long serial, const TestCa::Validity& validity,
                     const std::vector<std::string>& hostNames) {
    Cert cert(X509_new());
    check(cert != nullptr, "X509_new");
    X509_set_version(cert.get(), 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), serial);
    X509_gmtime_adj(X509_getm_notBefore(cert.get()), validity.notBefore.count());
    X509_gmtime_adj(X509_getm_notAfter(cert.get()), validity.notAfter.count());
    X509_set_pubkey(cert.get(), key);
    X509_NAME* subject = X509_get_subject_name(cert.get());
    X509_NAME_add_entry_by_txt(subject, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>(commonName.c_str()), -1, -1,
                               0);
    X509* signer = issuer ? issuer : cert.get();
    X509_set_issuer_name(cert.get(), X509_get_subject_name(signer));
    addExtension(cert.get(), signer, NID_subject_key_identifier, "hash");
    if (!issuer) {
        addExtension(cert.get(), signer, NID_basic_constraints, "critical,CA:TRUE");
        addExtension(cert.get(), signer, NID_key_usage, "critical,keyCertSign,cRLSign");
    } else {
        std::string names;
        for (const auto& host : hostNames) {
            names += (names.empty() ? "DNS:" : ",DNS:") + host;
        }
        addExtension(cert.get(), signer, NID_basic_constraints, "CA:FALSE");
        addExtension(cert.get(), signer, NID_key_usage, "critical,digitalSignature");
        addExtension(cert.get(), signer, NID_ext_key_usage, "serverAuth");
        addExtension(cert.get(), signer, NID_authority_key_identifier, "keyid:always");
        addExtension(cert.get(), signer, NID_subject_alt_name, names);
    }
    check(X509_sign(cert.get(), issuerKey ? issuerKey : key, EVP_sha256()) > 0, "signing");
    return cert;
}

void writePem(const std::string& path, X509* cert, EVP_PKEY* key) {
    std::FILE* file = std::fopen(path.c_str(), "w");
    check(file != nullptr, "fopen");
    const bool ok =
        cert ? PEM_write_X509(file, cert) == 1
             : PEM_write_PrivateKey(file, key, nullptr, nullptr, 0, nullptr, nullptr) == 1;
    std::fclose(file);
    check(ok, "PEM write");
}

} // namespace

TestCa::TestCa() {
    Key key = makeKey();
    Cert cert = makeCertificate(key.get(), "Brimwell Test CA", nullptr, nullptr, 1, {}, {});
    caCertificate_ = {(dir_.path() / "ca.pem").string(), (dir_.path() / "ca.key").string()};
    writePem(caCertificate_.certificatePath, cert.get(), nullptr);
    writePem(caCertificate_.keyPath, nullptr, key.get());
}

TestCa::Certificate TestCa::issue(const std::vector<std::string>& hostNames,
                                  Validity validity) const {
    std::FILE* caFile = std::fopen(caCertificate_.certificatePath.c_str(), "r");
    check(caFile != nullptr, "reading the CA");
    Cert caCert(PEM_read_X509(caFile, nullptr, nullptr, nullptr));
    std::fclose(caFile);
    std::FILE* keyFile = std::fopen(caCertificate_.keyPath.c_str(), "r");
    check(keyFile != nullptr, "reading the CA key");
    Key caKey(PEM_read_PrivateKey(keyFile, nullptr, nullptr, nullptr));
    std::fclose(keyFile);
    check(caCert && caKey, "loading the CA");

    const int number = ++issued_;
    Key key = makeKey();
    Cert cert = makeCertificate(key.get(), hostNames.empty() ? "server" : hostNames.front(),
                                caCert.get(), caKey.get(), number + 1, validity, hostNames);
    const auto stem = dir_.path() / ("server-" + std::to_string(number));
    Certificate issued{stem.string() + ".pem", stem.string() + ".key"};
    writePem(issued.certificatePath, cert.get(), nullptr);
    writePem(issued.keyPath, nullptr, key.get());
    return issued;
}
