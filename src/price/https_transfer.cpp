#include "https_transfer.h"

#include <curl/curl.h>
#include <openssl/crypto.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>

namespace {

using SteadyClock = std::chrono::steady_clock;

struct EasyDeleter {
    void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
struct MultiDeleter {
    void operator()(CURLM* handle) const { curl_multi_cleanup(handle); }
};
struct UrlDeleter {
    void operator()(CURLU* url) const { curl_url_cleanup(url); }
};
struct ListDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

std::atomic<bool> aborting = false;
// How often a transfer looks at `aborting` while it waits for the network.
constexpr std::chrono::milliseconds abortCheck(250);

const char* const headersTooLarge = "response headers exceed 1 MiB";

// What the callbacks of one transfer share with it.
struct Progress {
    std::string body;
    std::size_t headerBytes = 0;
    SteadyClock::time_point lastByte = SteadyClock::now();
    std::string_view overLimit;
};

std::size_t onBody(char* data, std::size_t size, std::size_t count, void* user) {
    auto& progress = *static_cast<Progress*>(user);
    const std::size_t bytes = size * count;
    progress.lastByte = SteadyClock::now();
    if (bytes > HttpsTransfer::maxBodyBytes - progress.body.size()) {
        progress.overLimit = HttpsTransfer::bodyTooLarge;
        return 0; // anything but `bytes` ends the transfer
    }
    progress.body.append(data, bytes);
    return bytes;
}

std::size_t onHeader(char*, std::size_t size, std::size_t count, void* user) {
    auto& progress = *static_cast<Progress*>(user);
    const std::size_t bytes = size * count;
    progress.lastByte = SteadyClock::now();
    progress.headerBytes += bytes;
    if (progress.headerBytes > HttpsTransfer::maxHeaderBytes) {
        progress.overLimit = headersTooLarge;
        return 0;
    }
    return bytes;
}

HttpsTransfer::Error failed(int code, std::string description) {
    return {HttpsTransfer::Error::Kind::failed, {code, std::move(description)}};
}

enum class Ending { finished, idle, aborted };

// Runs the transfer on a private multi handle so that the idle limit is checked as
// closely as it is set: libcurl's own progress calls come only about once a second while
// nothing arrives.
Ending performWithIdleLimit(CURLM* multi, const Progress& progress,
                            std::chrono::milliseconds idleLimit, CURLMcode& multiCode) {
    int running = 1;
    while (true) {
        multiCode = curl_multi_perform(multi, &running);
        if (multiCode != CURLM_OK || running == 0) {
            return Ending::finished;
        }
        if (aborting) {
            return Ending::aborted;
        }
        const auto idleLeft = std::chrono::ceil<std::chrono::milliseconds>(
            progress.lastByte + idleLimit - SteadyClock::now());
        if (idleLeft.count() <= 0) {
            return Ending::idle;
        }
        // libcurl shortens the wait on its own for its timers (the total limit among them).
        const auto wait =
            std::min(idleLeft, std::chrono::ceil<std::chrono::milliseconds>(abortCheck));
        multiCode = curl_multi_poll(multi, nullptr, 0, static_cast<int>(wait.count()), nullptr);
        if (multiCode != CURLM_OK) {
            return Ending::finished;
        }
    }
}

// Frees what TLS keeps per thread (its random generators, its error queue) when a call
// ends: a pool worker lives on, parked, between passes, and a call should leave nothing
// behind.
struct ThreadStateRelease {
    ~ThreadStateRelease() { OPENSSL_thread_stop(); }
};

} // namespace

std::expected<HttpsTransfer::Response, HttpsTransfer::Error>
HttpsTransfer::get(std::string_view url, const RequestOptions& options) {
    const ThreadStateRelease releaseAtTheEnd;
    std::unique_ptr<CURLU, UrlDeleter> parsedUrl(curl_url());
    if (!parsedUrl ||
        curl_url_set(parsedUrl.get(), CURLUPART_URL, std::string(url).c_str(), 0) != CURLUE_OK) {
        return std::unexpected(Error{Error::Kind::invalidUrl, {}});
    }

    std::unique_ptr<CURL, EasyDeleter> easy(curl_easy_init());
    std::unique_ptr<CURLM, MultiDeleter> multi(curl_multi_init());
    if (!easy || !multi) {
        return std::unexpected(
            failed(CURLE_OUT_OF_MEMORY, curl_easy_strerror(CURLE_OUT_OF_MEMORY)));
    }

    std::unique_ptr<curl_slist, ListDeleter> connectTo;
    for (const std::string& entry : options.connectTo) {
        curl_slist* list = connectTo.release();
        curl_slist* extended = curl_slist_append(list, entry.c_str());
        connectTo.reset(extended ? extended : list);
        if (!extended) {
            return std::unexpected(
                failed(CURLE_OUT_OF_MEMORY, curl_easy_strerror(CURLE_OUT_OF_MEMORY)));
        }
    }

    Progress progress;
    char errorBuffer[CURL_ERROR_SIZE] = {};
    CURL* handle = easy.get();
    curl_easy_setopt(handle, CURLOPT_CURLU, parsedUrl.get());
    curl_easy_setopt(handle, CURLOPT_HTTPGET, 1L);
    curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, "https");
    curl_easy_setopt(handle, CURLOPT_REDIR_PROTOCOLS_STR, "https");
    curl_easy_setopt(handle, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(handle, CURLOPT_MAXREDIRS, maxRedirects);
    curl_easy_setopt(handle, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(handle, CURLOPT_SSL_VERIFYHOST, 2L);
    curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(handle, CURLOPT_TIMEOUT_MS, static_cast<long>(options.limits.total.count()));
    // Nothing is decompressed: no Accept-Encoding is sent and no encoding is undone.
    curl_easy_setopt(handle, CURLOPT_HTTP_CONTENT_DECODING, 0L);
    // Refuses an announced oversize body before reading it; the write callback catches the
    // rest.
    curl_easy_setopt(handle, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(maxBodyBytes));
    curl_easy_setopt(handle, CURLOPT_ERRORBUFFER, errorBuffer);
    curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, onBody);
    curl_easy_setopt(handle, CURLOPT_WRITEDATA, &progress);
    curl_easy_setopt(handle, CURLOPT_HEADERFUNCTION, onHeader);
    curl_easy_setopt(handle, CURLOPT_HEADERDATA, &progress);
    if (connectTo) {
        curl_easy_setopt(handle, CURLOPT_CONNECT_TO, connectTo.get());
    }
    if (!options.caFile.empty()) {
        curl_easy_setopt(handle, CURLOPT_CAINFO, options.caFile.c_str());
        curl_easy_setopt(handle, CURLOPT_CAPATH, nullptr);
    }

    curl_multi_add_handle(multi.get(), handle);
    CURLMcode multiCode = CURLM_OK;
    const Ending ending =
        performWithIdleLimit(multi.get(), progress, options.limits.idle, multiCode);
    CURLcode code = CURLE_OK;
    if (ending == Ending::finished && multiCode == CURLM_OK) {
        int queued = 0;
        code = CURLE_RECV_ERROR;
        while (CURLMsg* message = curl_multi_info_read(multi.get(), &queued)) {
            if (message->msg == CURLMSG_DONE) {
                code = message->data.result;
            }
        }
    }
    long status = 0;
    curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &status);
    curl_multi_remove_handle(multi.get(), handle);

    if (ending == Ending::aborted) {
        return std::unexpected(Error{
            Error::Kind::aborted, {CURLE_ABORTED_BY_CALLBACK, "aborted: the program is ending"}});
    }
    if (ending == Ending::idle || code == CURLE_OPERATION_TIMEDOUT) {
        return std::unexpected(Error{Error::Kind::timedOut, {}});
    }
    if (multiCode != CURLM_OK) {
        return std::unexpected(failed(CURLE_RECV_ERROR, curl_multi_strerror(multiCode)));
    }
    if (!progress.overLimit.empty()) {
        return std::unexpected(failed(code, std::string(progress.overLimit)));
    }
    if (code == CURLE_FILESIZE_EXCEEDED) {
        return std::unexpected(failed(code, std::string(bodyTooLarge)));
    }
    if (code != CURLE_OK) {
        return std::unexpected(
            failed(code, errorBuffer[0] != '\0' ? errorBuffer : curl_easy_strerror(code)));
    }
    return Response{status, std::move(progress.body)};
}

void HttpsTransfer::abortAll() {
    aborting = true;
}
