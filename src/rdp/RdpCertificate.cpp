#include "rdp/RdpCertificate.h"

#include <freerdp/crypto/certificate.h>
#include <freerdp/crypto/crypto.h>

#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>

#include <cstdlib>
#include <memory>

namespace RdpCertificate {

namespace {

template<typename T, void (*Free)(T *)>
using Owned = std::unique_ptr<T, std::integral_constant<decltype(Free), Free>>;

void freeChain(STACK_OF(X509) * chain)
{
    sk_X509_pop_free(chain, X509_free);
}

std::string taken(char *text)
{
    std::string s = text ? text : "";
    free(text);
    return s;
}

// Whether the system's trust store vouches for the certificate under the server's name (or
// address), with the rest of the chain the server sent as intermediates.
bool trustedBySystem(X509 *leaf, STACK_OF(X509) * chain, const std::string &host)
{
    Owned<X509_STORE, X509_STORE_free> store(X509_STORE_new());
    Owned<X509_STORE_CTX, X509_STORE_CTX_free> context(X509_STORE_CTX_new());
    if (!store || !context || X509_STORE_set_default_paths(store.get()) != 1
        || X509_STORE_CTX_init(context.get(), store.get(), leaf, chain) != 1)
        return false;
    X509_STORE_CTX_set_purpose(context.get(), X509_PURPOSE_SSL_SERVER);
    X509_VERIFY_PARAM *param = X509_STORE_CTX_get0_param(context.get());
    if (X509_VERIFY_PARAM_set1_ip_asc(param, host.c_str()) != 1
        && X509_VERIFY_PARAM_set1_host(param, host.c_str(), host.size()) != 1)
        return false;
    const bool ok = X509_verify_cert(context.get()) == 1;
    ERR_clear_error();
    return ok;
}

using StoreData = Owned<rdpCertificateData, certificate_data_free>;
using Store = Owned<rdpCertificateStore, certificate_store_free>;

} // namespace

Verdict Check(rdpSettings *settings, const std::string &host, uint16_t port, const unsigned char *pem, size_t length)
{
    Verdict verdict;
    Owned<BIO, BIO_free_all> bio(BIO_new_mem_buf(pem, int(length)));
    Owned<X509, X509_free> leaf(bio ? PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr) : nullptr);
    Owned<STACK_OF(X509), freeChain> chain(sk_X509_new_null());
    if (!leaf || !chain)
        return verdict;
    while (X509 *next = PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr))
        sk_X509_push(chain.get(), next);
    ERR_clear_error(); // the end of the text reads as an error

    verdict.subject = taken(crypto_cert_subject(leaf.get()));
    verdict.issuer = taken(crypto_cert_issuer(leaf.get()));
    verdict.fingerprint = taken(crypto_cert_fingerprint(leaf.get()));
    if (trustedBySystem(leaf.get(), chain.get(), host)) {
        verdict.kind = Verdict::Trusted;
        return verdict;
    }
    Store store(certificate_store_new(settings));
    StoreData data(certificate_data_new(host.c_str(), port, verdict.subject.c_str(), verdict.issuer.c_str(),
                                        verdict.fingerprint.c_str()));
    if (!store || !data || verdict.fingerprint.empty())
        return Verdict{};
    switch (certificate_data_match(store.get(), data.get())) {
    case 0:
        verdict.kind = Verdict::Known;
        break;
    case 1:
        verdict.kind = certificate_data_print(store.get(), data.get()) ? Verdict::New : Verdict::Unreadable;
        break;
    default: {
        char *subject = nullptr, *issuer = nullptr, *fingerprint = nullptr;
        if (certificate_get_stored_data(store.get(), data.get(), &subject, &issuer, &fingerprint))
            verdict.remembered = fingerprint ? fingerprint : "";
        free(subject);
        free(issuer);
        free(fingerprint);
        verdict.kind = Verdict::Changed;
        break;
    }
    }
    return verdict;
}

bool Replace(rdpSettings *settings, const std::string &host, uint16_t port, const Verdict &verdict)
{
    Store store(certificate_store_new(settings));
    StoreData data(certificate_data_new(host.c_str(), port, verdict.subject.c_str(), verdict.issuer.c_str(),
                                        verdict.fingerprint.c_str()));
    return store && data && certificate_data_replace(store.get(), data.get());
}

} // namespace RdpCertificate
