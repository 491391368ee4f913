// What a failed request's libcurl code says of the failure: the retries and the cancel read it.

#include <curl/curl.h>

#include "platform/Internet.h"

bool CInternetException::IsCancel() const
{
    return m_nCurlCode == CURLE_ABORTED_BY_CALLBACK;
}

bool CInternetException::IsTimeout() const
{
    return m_nCurlCode == CURLE_OPERATION_TIMEDOUT;
}

bool CInternetException::IsConnectionLost() const
{
    switch (m_nCurlCode) {
    case CURLE_COULDNT_CONNECT:
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    case CURLE_GOT_NOTHING:
        return true;
    default:
        return false;
    }
}

bool CInternetException::IsTransient() const
{
    switch (m_nCurlCode) {
    case CURLE_COULDNT_CONNECT:
    case CURLE_OPERATION_TIMEDOUT:
    case CURLE_PARTIAL_FILE:
    case CURLE_GOT_NOTHING:
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    case CURLE_HTTP2:
    case CURLE_HTTP2_STREAM:
        return true;
    default:
        return false;
    }
}
