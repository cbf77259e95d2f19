#include "Transfer.h"

#include "ResponseHeaders.h"

#include <QUrl>

#include <curl/curl.h>

#include <chrono>
#include <ctime>
#include <memory>
#include <utility>

namespace updateagent {

namespace {

// Redirects may lead to any network source, never to a local file.
constexpr const char* RedirectProtocols = "http,https,ftp";
constexpr long ReceiveBufferSize = 256 * 1024;
constexpr long MaxRedirects = 5;
constexpr long PartialContent = 206;
constexpr long RangeNotSatisfiable = 416;

using Clock = std::chrono::steady_clock;

struct TransferState {
    TransferSink& sink;
    const std::function<bool()>& cancelled;
    CURL* curl;
    qint64 requestedOffset;
    std::chrono::seconds stallTime;
    Clock::time_point lastByte = Clock::now();
    bool stalled = false;
    ResponseHeaders headers{};
    bool begun = false;
};

using HeaderList = std::unique_ptr<curl_slist, decltype(&curl_slist_free_all)>;

bool curlReady()
{
    // A function-local static makes the one global init thread-safe.
    static const CURLcode initResult = curl_global_init(CURL_GLOBAL_DEFAULT);
    return initResult == CURLE_OK;
}

// FTP and local files have no status; their only answers are the file or an error.
bool bringsTheFile(long status)
{
    return status == 0 || (status >= 200 && status < 300);
}

// What the source said about the file before its first byte.
ResponseStart responseStart(const TransferState& state)
{
    ResponseStart start;
    curl_off_t length = -1;
    curl_easy_getinfo(state.curl, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
    start.validator = state.headers.validator();
    if (state.headers.status() == PartialContent) {
        // A range the server got wrong must not be taken for the one we asked.
        const std::optional<ContentRange> range = state.headers.contentRange();
        start.offset = range ? range->first : -1;
        start.total = range ? range->completeLength : -1;
        return start;
    }
    if (state.headers.status() == 0) {
        // FTP and files continue where asked (REST, a seek); their length is what is left.
        curl_off_t modified = -1;
        curl_easy_getinfo(state.curl, CURLINFO_FILETIME_T, &modified);
        if (modified >= 0)
            start.validator = "modified " + std::to_string(modified);
        start.offset = state.requestedOffset;
    }
    start.total = length >= 0 ? start.offset + length : -1;
    return start;
}

bool beginResponse(TransferState& state)
{
    state.begun = true;
    return state.sink.begin(responseStart(state));
}

size_t onHeader(char* data, size_t size, size_t count, void* user)
{
    auto* state = static_cast<TransferState*>(user);
    state->lastByte = Clock::now();
    state->headers.add({data, size * count});
    return size * count;
}

size_t onData(char* data, size_t size, size_t count, void* user)
{
    auto* state = static_cast<TransferState*>(user);
    const size_t bytes = size * count;
    if (state->cancelled())
        return 0; // anything short of bytes makes curl end the transfer
    state->lastByte = Clock::now();
    // An error page is not the file.
    if (!state->begun && (!bringsTheFile(state->headers.status()) || !beginResponse(*state)))
        return 0;
    return state->sink.receive(data, bytes) ? bytes : 0;
}

// Called at least once a second, bytes or not. curl's own low-speed check averages
// over several seconds and would notice a stall late.
int onProgress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t)
{
    auto* state = static_cast<TransferState*>(user);
    state->stalled = Clock::now() - state->lastByte >= state->stallTime;
    return (state->stalled || state->cancelled()) ? 1 : 0;
}

void setCredentials(CURL* curl, const TransferRequest& request)
{
    if (request.userName.empty())
        return;
    curl_easy_setopt(curl, CURLOPT_USERNAME, request.userName.c_str());
    curl_easy_setopt(curl, CURLOPT_PASSWORD, request.password.c_str());
}

// Range works for HTTP, FTP (REST) and files alike; If-Range makes an HTTP server
// send the whole file when it no longer has the one the validator names.
HeaderList setResumePoint(CURL* curl, const ResumePoint& resume, std::string& range)
{
    HeaderList headers(nullptr, &curl_slist_free_all);
    if (resume.offset <= 0)
        return headers;
    range = std::to_string(resume.offset) + '-';
    curl_easy_setopt(curl, CURLOPT_RANGE, range.c_str());
    if (!resume.validator.empty()) {
        headers.reset(curl_slist_append(nullptr, ("If-Range: " + resume.validator).c_str()));
        curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers.get());
    }
    return headers;
}

void configure(CURL* curl, const TransferRequest& request, const TransferLimits& limits,
               TransferState& state, char* errorText)
{
    curl_easy_setopt(curl, CURLOPT_URL, request.url.c_str());
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, request.protocols.c_str());
    curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, RedirectProtocols);
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(curl, CURLOPT_MAXREDIRS, MaxRedirects);
    curl_easy_setopt(curl, CURLOPT_FILETIME, 1L);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L); // signals are process-wide; we share it
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, errorText);
    curl_easy_setopt(curl, CURLOPT_BUFFERSIZE, ReceiveBufferSize);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, limits.connectTimeoutSeconds);
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, onHeader);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, &state);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, onData);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &state);
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, onProgress);
    curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &state);
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    setCredentials(curl, request);
}

// Failures of the link or of a busy server, which pass; not those that say the
// file is not there, not ours to have or not what we asked for.
bool mayPass(CURLcode code, long status)
{
    if (status >= 500 || status == 408 || status == 429 || status == RangeNotSatisfiable)
        return true;
    switch (code) {
    case CURLE_COULDNT_RESOLVE_PROXY:
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_CONNECT:
    case CURLE_FTP_ACCEPT_TIMEOUT:
    case CURLE_FTP_WEIRD_PASV_REPLY:
    case CURLE_FTP_CANT_GET_HOST:
    case CURLE_FTP_COULDNT_USE_REST:
    case CURLE_PARTIAL_FILE:
    case CURLE_OPERATION_TIMEDOUT:
    case CURLE_RANGE_ERROR:
    case CURLE_HTTP2:
    case CURLE_HTTP2_STREAM:
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_GOT_NOTHING:
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
        return true;
    default:
        return false;
    }
}

TransferResult failure(CURLcode code, const TransferState& state, const char* errorText)
{
    const long status = state.headers.status();
    TransferResult result;
    if (state.stalled) {
        result.error = "no byte came for " + std::to_string(state.stallTime.count()) + " s";
        result.transient = true;
        return result;
    }
    if (!bringsTheFile(status))
        result.error = "the server answered " + std::to_string(status);
    else
        result.error = errorText[0] != '\0' ? errorText : curl_easy_strerror(code);
    // A refusal of the sink's own is the sink's to judge.
    result.transient = (code != CURLE_WRITE_ERROR || !state.begun) && mayPass(code, status);
    result.rangeRefused = code == CURLE_FTP_COULDNT_USE_REST || code == CURLE_RANGE_ERROR ||
                          status == RangeNotSatisfiable;
    result.retryAfter = state.headers.retryAfter(std::time(nullptr));
    return result;
}

} // namespace

TransferResult TransferResult::ended(Status status, std::string error)
{
    TransferResult result;
    result.status = status;
    result.error = std::move(error);
    return result;
}

std::string transferUrl(const QString& url)
{
    return QUrl(url, QUrl::TolerantMode).toEncoded().toStdString();
}

TransferResult transfer(const TransferRequest& request, const TransferLimits& limits,
                        TransferSink& sink, const std::function<bool()>& cancelled,
                        const ResumePoint& resume)
{
    if (!curlReady())
        return TransferResult::ended(TransferResult::Status::Failed,
                                     "libcurl could not be initialised");
    const std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> curl(curl_easy_init(),
                                                                   &curl_easy_cleanup);
    if (!curl)
        return TransferResult::ended(TransferResult::Status::Failed, "no transfer handle");

    char errorText[CURL_ERROR_SIZE] = {};
    TransferState state{sink, cancelled, curl.get(), resume.offset,
                        std::chrono::seconds(limits.stallTimeoutSeconds)};
    configure(curl.get(), request, limits, state, errorText);
    std::string range;
    const HeaderList headers = setResumePoint(curl.get(), resume, range);
    CURLcode code = curl_easy_perform(curl.get());
    // An empty file brings no byte to begin with.
    if (code == CURLE_OK && bringsTheFile(state.headers.status()) && !state.begun &&
        !beginResponse(state))
        code = CURLE_WRITE_ERROR;
    if (code == CURLE_OK && bringsTheFile(state.headers.status()))
        return TransferResult::ended(TransferResult::Status::Completed);
    if (cancelled())
        return TransferResult::ended(TransferResult::Status::Cancelled);
    return failure(code, state, errorText);
}

} // namespace updateagent
