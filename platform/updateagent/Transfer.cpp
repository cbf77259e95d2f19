#include "Transfer.h"

#include <QUrl>

#include <curl/curl.h>

#include <memory>

namespace updateagent {

namespace {

// Redirects may lead to any network source, never to a local file.
constexpr const char* RedirectProtocols = "http,https,ftp";
constexpr long ReceiveBufferSize = 256 * 1024;
constexpr long MaxRedirects = 5;

struct TransferState {
    TransferSink& sink;
    const std::function<bool()>& cancelled;
};

bool curlReady()
{
    // A function-local static makes the one global init thread-safe.
    static const CURLcode initResult = curl_global_init(CURL_GLOBAL_DEFAULT);
    return initResult == CURLE_OK;
}

size_t onData(char* data, size_t size, size_t count, void* user)
{
    auto* state = static_cast<TransferState*>(user);
    const size_t bytes = size * count;
    if (state->cancelled() || !state->sink.receive(data, bytes))
        return 0; // anything short of bytes makes curl end the transfer
    return bytes;
}

int onProgress(void* user, curl_off_t downloadTotal, curl_off_t, curl_off_t, curl_off_t)
{
    auto* state = static_cast<TransferState*>(user);
    return (state->cancelled() || !state->sink.proceed(downloadTotal)) ? 1 : 0;
}

void setCredentials(CURL* curl, const TransferRequest& request)
{
    if (request.userName.empty())
        return;
    curl_easy_setopt(curl, CURLOPT_USERNAME, request.userName.c_str());
    curl_easy_setopt(curl, CURLOPT_PASSWORD, request.password.c_str());
}

void configure(CURL* curl, const TransferRequest& request, const TransferLimits& limits,
               TransferState& state, char* errorText)
{
    curl_easy_setopt(curl, CURLOPT_URL, request.url.c_str());
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, request.protocols.c_str());
    curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, RedirectProtocols);
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(curl, CURLOPT_MAXREDIRS, MaxRedirects);
    curl_easy_setopt(curl, CURLOPT_FAILONERROR, 1L);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L); // signals are process-wide; we share it
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, errorText);
    curl_easy_setopt(curl, CURLOPT_BUFFERSIZE, ReceiveBufferSize);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, limits.connectTimeoutSeconds);
    // Less than one byte a second over the stall time counts as a stalled transfer.
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, limits.stallTimeoutSeconds);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, onData);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &state);
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, onProgress);
    curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &state);
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    setCredentials(curl, request);
}

} // namespace

std::string transferUrl(const QString& url)
{
    return QUrl(url, QUrl::TolerantMode).toEncoded().toStdString();
}

TransferResult transfer(const TransferRequest& request, const TransferLimits& limits,
                        TransferSink& sink, const std::function<bool()>& cancelled)
{
    if (!curlReady())
        return {TransferResult::Status::Failed, "libcurl could not be initialised"};
    const std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> curl(curl_easy_init(),
                                                                   &curl_easy_cleanup);
    if (!curl)
        return {TransferResult::Status::Failed, "no transfer handle"};

    char errorText[CURL_ERROR_SIZE] = {};
    TransferState state{sink, cancelled};
    configure(curl.get(), request, limits, state, errorText);
    const CURLcode code = curl_easy_perform(curl.get());
    if (code == CURLE_OK)
        return {TransferResult::Status::Completed, {}};
    if (cancelled())
        return {TransferResult::Status::Cancelled, {}};
    return {TransferResult::Status::Failed,
            errorText[0] != '\0' ? errorText : curl_easy_strerror(code)};
}

} // namespace updateagent
