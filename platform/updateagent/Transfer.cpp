#include "Transfer.h"

#include "RateCap.h"
#include "ResponseHeaders.h"
#include "StallWatch.h"

#include <QUrl>

#include <curl/curl.h>

#include <chrono>
#include <ctime>
#include <memory>
#include <sys/socket.h>
#include <utility>

namespace updateagent {

namespace {

// Redirects may lead to any network source, never to a local file.
constexpr const char* RedirectProtocols = "http,https,ftp";
constexpr long ReceiveBufferSize = 256 * 1024;
constexpr long MaxRedirects = 5;
constexpr long PartialContent = 206;
constexpr long RangeNotSatisfiable = 416;
constexpr long NotFound = 404;
constexpr long Gone = 410;
constexpr long ProxyAuthenticationRequired = 407;
constexpr long Unauthorized = 401;
// A capped link keeps this much of a second's bytes in the kernel at most, so
// the cap holds on the link and not only in our reads: a large receive buffer
// would let its size cross at full speed while the reads are paced.
constexpr long ReceiveWindowDivisor = 4;
constexpr long SmallestReceiveWindow = 4096;

using Clock = std::chrono::steady_clock;

struct TransferState {
    TransferSink& sink;
    const std::function<bool()>& cancelled;
    CURL* curl;
    qint64 requestedOffset;
    StallWatch stallWatch;
    Proxy proxy;
    long receiveWindow = 0; // 0: the kernel's own
    RateCap rateCap;
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
    state->stallWatch.arrived(static_cast<std::int64_t>(size * count));
    state->headers.add({data, size * count});
    return size * count;
}

size_t onData(char* data, size_t size, size_t count, void* user)
{
    auto* state = static_cast<TransferState*>(user);
    const size_t bytes = size * count;
    if (state->cancelled())
        return 0; // anything short of bytes makes curl end the transfer
    state->stallWatch.arrived(static_cast<std::int64_t>(bytes));
    // An error page is not the file.
    if (!state->begun && (!bringsTheFile(state->headers.status()) || !beginResponse(*state)))
        return 0;
    if (!state->sink.receive(data, bytes))
        return 0;
    state->rateCap.pace(bytes, state->cancelled);
    return bytes;
}

// Called at least once a second, bytes or not. curl's own low-speed check averages
// over several seconds and would notice a stall late.
int onProgress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t)
{
    auto* state = static_cast<TransferState*>(user);
    state->stalled = state->stallWatch.stalled(Clock::now());
    return (state->stalled || state->cancelled()) ? 1 : 0;
}

int limitReceiveWindow(void* user, curl_socket_t socket, curlsocktype purpose)
{
    const auto* state = static_cast<const TransferState*>(user);
    if (purpose == CURLSOCKTYPE_IPCXN && state->receiveWindow > 0) {
        const int size = static_cast<int>(state->receiveWindow);
        ::setsockopt(socket, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    }
    return CURL_SOCKOPT_OK;
}

// The reads are paced by the state's rate cap.
void setReceiveWindow(CURL* curl, const TransferLimits& limits, TransferState& state)
{
    if (limits.maxRateKiB <= 0)
        return;
    state.receiveWindow =
        std::max(SmallestReceiveWindow, limits.maxRateKiB * 1024 / ReceiveWindowDivisor);
    curl_easy_setopt(curl, CURLOPT_SOCKOPTFUNCTION, limitReceiveWindow);
    curl_easy_setopt(curl, CURLOPT_SOCKOPTDATA, &state);
}

// Always set, "" for a direct link: curl reads no proxy variable of its own,
// so the one a line names is the one used. The credentials go apart from the
// address, where no error text picks them up.
void setProxy(CURL* curl, const TransferState& state, const std::string& bypassed)
{
    curl_easy_setopt(curl, CURLOPT_PROXY, state.proxy.url.c_str());
    curl_easy_setopt(curl, CURLOPT_NOPROXY, bypassed.c_str());
    if (!state.proxy.userName.empty()) {
        curl_easy_setopt(curl, CURLOPT_PROXYUSERNAME, state.proxy.userName.c_str());
        curl_easy_setopt(curl, CURLOPT_PROXYPASSWORD, state.proxy.password.c_str());
    }
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
    setProxy(curl, state, bypassedHosts(limits.proxy));
    setReceiveWindow(curl, limits, state);
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

bool proxyRefused(CURLcode code, const TransferState& state)
{
    if (state.proxy.direct())
        return false;
    long tunnelStatus = 0;
    curl_easy_getinfo(state.curl, CURLINFO_HTTP_CONNECTCODE, &tunnelStatus);
    const long status = tunnelStatus != 0 ? tunnelStatus : state.headers.status();
    // Some proxies (tinyproxy) answer wrong credentials with 401, not 407; the
    // check's requests carry no credentials for the server to refuse.
    const bool credentialsRefused = status == ProxyAuthenticationRequired ||
                                    (status == Unauthorized && !state.proxy.userName.empty());
    // Through a proxy, the only connection curl opens is the proxy's.
    return code == CURLE_COULDNT_CONNECT || code == CURLE_COULDNT_RESOLVE_PROXY ||
           credentialsRefused;
}

TransferResult::Failure failureKind(CURLcode code, const TransferState& state)
{
    using Failure = TransferResult::Failure;
    const long status = state.headers.status();
    if (state.stalled)
        return Failure::Stalled;
    if (proxyRefused(code, state))
        return Failure::ProxyRefused;
    // Only a server can answer that it has no such file; a missing local file
    // may be a stick that is not there.
    if (status == NotFound || status == Gone || code == CURLE_REMOTE_FILE_NOT_FOUND)
        return Failure::NotFound;
    if (code == CURLE_COULDNT_CONNECT || code == CURLE_COULDNT_RESOLVE_HOST)
        return Failure::Unreachable;
    return Failure::Other;
}

TransferResult stallFailure(const TransferState& state)
{
    TransferResult result;
    result.failure = TransferResult::Failure::Stalled;
    result.error = "fewer than " + std::to_string(state.stallWatch.leastBytes()) + " bytes in " +
                   std::to_string(state.stallWatch.window().count()) + " s";
    result.transient = true;
    return result;
}

TransferResult failure(CURLcode code, const TransferState& state, const char* errorText)
{
    const long status = state.headers.status();
    if (state.stalled)
        return stallFailure(state);
    TransferResult result;
    result.failure = failureKind(code, state);
    if (result.failure == TransferResult::Failure::ProxyRefused)
        result.error = "the proxy " + state.proxy.shown() + " refused: ";
    if (!bringsTheFile(status))
        result.error += "the server answered " + std::to_string(status);
    else
        result.error += errorText[0] != '\0' ? errorText : curl_easy_strerror(code);
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
    TransferState state{sink,
                        cancelled,
                        curl.get(),
                        resume.offset,
                        StallWatch(std::chrono::seconds(limits.stallTimeoutSeconds),
                                   limits.stallBytes, Clock::now()),
                        proxyFor(limits.proxy, request.url),
                        0,
                        RateCap(limits.maxRateKiB * 1024)};
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
