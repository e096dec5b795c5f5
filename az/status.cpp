#include "az/status.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <strings.h>

#include "blob_service/properties.h"

// Indexed by AZ_status; values 48 to 195 are "Error" followed by the service's code string.
static const char *const ostrel_l_az_status_names[AZ_STATUS_COUNT] = {
    "OK",
    "InternalError",
    "OutOfMemory",
    "Interrupted",
    "InvalidContainerNameTooLong",
    "InvalidContainerNameFirstCharacter",
    "InvalidContainerNameCharacter",
    "InvalidContainerNameCharacterSequence",
    "InvalidContainerNameTooShort",
    "InvalidContainerNameDotQuadNotation",
    "QueryParamsTooLong",
    "FailedToInitializeRequest",
    "MetaDataHeadersTooLong",
    "BadMetaData",
    "BadContentType",
    "ContentTypeTooLong",
    "BadMD5",
    "MD5TooLong",
    "BadCacheControl",
    "CacheControlTooLong",
    "BadContentDispositionFilename",
    "ContentDispositionFilenameTooLong",
    "BadContentEncoding",
    "ContentEncodingTooLong",
    "BadIfMatchETag",
    "IfMatchETagTooLong",
    "BadIfNotMatchETag",
    "IfNotMatchETagTooLong",
    "HeadersTooLong",
    "UriTooLong",
    "XmlParseFailure",
    "EmailAddressTooLong",
    "UserIdTooLong",
    "UserDisplayNameTooLong",
    "GroupUriTooLong",
    "PermissionTooLong",
    "TargetContainerTooLong",
    "TargetPrefixTooLong",
    "TooManyGrants",
    "BadGrantee",
    "BadPermission",
    "XmlDocumentTooLarge",
    "NameLookupError",
    "FailedToConnect",
    "ServerFailedVerification",
    "ConnectionFailed",
    "AbortedByCallback",
    "NotSupported",
    "ErrorAppendPositionConditionNotMet",
    "ErrorBlobAlreadyExists",
    "ErrorBlobImmutableDueToLegalHold",
    "ErrorBlobImmutableDueToPolicy",
    "ErrorBlobNotFound",
    "ErrorBlobOverwritten",
    "ErrorBlobTierInadequateForContentLength",
    "ErrorBlockCountExceedsLimit",
    "ErrorBlockListTooLong",
    "ErrorCannotChangeToLowerTier",
    "ErrorCannotVerifyCopySource",
    "ErrorContainerAlreadyExists",
    "ErrorContainerBeingDeleted",
    "ErrorContainerDisabled",
    "ErrorContainerHasLegalHold",
    "ErrorContainerImmutabilityPolicyLocked",
    "ErrorContainerNotFound",
    "ErrorContentLengthLargerThanTierLimit",
    "ErrorCopyAcrossAccountsNotSupported",
    "ErrorCopyIdMismatch",
    "ErrorDirectorySasNotSupportedVersion",
    "ErrorFeatureVersionMismatch",
    "ErrorIncrementalCopyBlobMismatch",
    "ErrorIncrementalCopyOfEarlierVersionSnapshotNotAllowed",
    "ErrorIncrementalCopySourceMustBeSnapshot",
    "ErrorInfiniteLeaseDurationRequired",
    "ErrorInvalidBlobOrBlock",
    "ErrorInvalidBlobTier",
    "ErrorInvalidBlobType",
    "ErrorInvalidBlockId",
    "ErrorInvalidBlockList",
    "ErrorInvalidOperation",
    "ErrorInvalidPageRange",
    "ErrorInvalidSourceBlobType",
    "ErrorInvalidSourceBlobUrl",
    "ErrorInvalidVersionForPageBlobOperation",
    "ErrorLeaseAlreadyPresent",
    "ErrorLeaseAlreadyBroken",
    "ErrorLeaseIdMismatchWithBlobOperation",
    "ErrorLeaseIdMismatchWithContainerOperation",
    "ErrorLeaseIdMismatchWithLeaseOperation",
    "ErrorLeaseIdMissing",
    "ErrorLeaseIsBreakingAndCannotBeAcquired",
    "ErrorLeaseIsBreakingAndCannotBeChanged",
    "ErrorLeaseIsBrokenAndCannotBeRenewed",
    "ErrorLeaseLost",
    "ErrorLeaseNotPresentWithBlobOperation",
    "ErrorLeaseNotPresentWithContainerOperation",
    "ErrorLeaseNotPresentWithLeaseOperation",
    "ErrorMaxBlobSizeConditionNotMet",
    "ErrorNoPendingCopyOperation",
    "ErrorOperationNotAllowedOnIncrementalCopyBlob",
    "ErrorPendingCopyOperation",
    "ErrorPreviousSnapshotCannotBeNewer",
    "ErrorPreviousSnapshotNotFound",
    "ErrorPreviousSnapshotOperationNotSupported",
    "ErrorQueryParameterSddInvalid",
    "ErrorQueryParameterSasMandatory",
    "ErrorSequenceNumberConditionNotMet",
    "ErrorSequenceNumberIncrementTooLarge",
    "ErrorSnapshotCountExceeded",
    "ErrorSnapshotOperationRateExceeded",
    "ErrorSnapshotsPresent",
    "ErrorSourceConditionNotMet",
    "ErrorSystemInUse",
    "ErrorTargetConditionNotMet",
    "ErrorUnauthorizedBlobOverwrite",
    "ErrorUnsupportedHeader",
    "ErrorBlobBeingRehydrated",
    "ErrorBlobArchived",
    "ErrorBlobNotArchived",
    "ErrorAccessDenied",
    "ErrorAccountProblem",
    "ErrorAmbiguousGrantByEmailAddress",
    "ErrorBadDigest",
    "ErrorContainerAlreadyOwnedByYou",
    "ErrorContainerNotEmpty",
    "ErrorCredentialsNotSupported",
    "ErrorCrossLocationLoggingProhibited",
    "ErrorEntityTooSmall",
    "ErrorEntityTooLarge",
    "ErrorExpiredToken",
    "ErrorIllegalVersioningConfigurationException",
    "ErrorIncompleteBody",
    "ErrorIncorrectNumberOfFilesInPostRequest",
    "ErrorInlineDataTooLarge",
    "ErrorInternalError",
    "ErrorInvalidAccessKeyId",
    "ErrorInvalidAddressingHeader",
    "ErrorInvalidArgument",
    "ErrorInvalidContainerName",
    "ErrorInvalidContainerState",
    "ErrorInvalidDigest",
    "ErrorInvalidEncryptionAlgorithmError",
    "ErrorInvalidLocationConstraint",
    "ErrorInvalidBlobState",
    "ErrorInvalidPart",
    "ErrorInvalidPartOrder",
    "ErrorInvalidPayer",
    "ErrorInvalidPolicyDocument",
    "ErrorInvalidRange",
    "ErrorInvalidRequest",
    "ErrorInvalidSecurity",
    "ErrorInvalidSOAPRequest",
    "ErrorInvalidStorageClass",
    "ErrorInvalidTargetContainerForLogging",
    "ErrorInvalidToken",
    "ErrorInvalidURI",
    "ErrorMalformedACLError",
    "ErrorMalformedPOSTRequest",
    "ErrorMalformedXML",
    "ErrorMaxMessageLengthExceeded",
    "ErrorMaxPostPreDataLengthExceededError",
    "ErrorMetadataTooLarge",
    "ErrorMethodNotAllowed",
    "ErrorMissingAttachment",
    "ErrorMissingContentLength",
    "ErrorMissingRequestBodyError",
    "ErrorMissingSecurityElement",
    "ErrorMissingSecurityHeader",
    "ErrorNoLoggingStatusForKey",
    "ErrorNoSuchContainer",
    "ErrorNoSuchKey",
    "ErrorNoSuchLifecycleConfiguration",
    "ErrorNoSuchUpload",
    "ErrorNoSuchVersion",
    "ErrorNotImplemented",
    "ErrorNotSignedUp",
    "ErrorNoSuchContainerPolicy",
    "ErrorOperationAborted",
    "ErrorPermanentRedirect",
    "ErrorPreconditionFailed",
    "ErrorRedirect",
    "ErrorRestoreAlreadyInProgress",
    "ErrorRequestIsNotMultiPartContent",
    "ErrorRequestTimeout",
    "ErrorRequestTimeTooSkewed",
    "ErrorRequestTorrentOfContainerError",
    "ErrorSignatureDoesNotMatch",
    "ErrorServiceUnavailable",
    "ErrorSlowDown",
    "ErrorTemporaryRedirect",
    "ErrorTokenRefreshRequired",
    "ErrorTooManyContainers",
    "ErrorUnexpectedContent",
    "ErrorUnresolvableGrantByEmailAddress",
    "ErrorUserKeyMustBeSpecified",
    "ErrorQuotaExceeded",
    "ErrorUnknown",
    "HttpErrorMovedTemporarily",
    "HttpErrorBadRequest",
    "HttpErrorForbidden",
    "HttpErrorNotFound",
    "HttpErrorConflict",
    "HttpErrorUnknown",
};

constexpr AZ_status ostrel_l_az_first_service_code = 48;
constexpr AZ_status ostrel_l_az_last_service_code = 195;
constexpr size_t ostrel_l_az_error_prefix_length = 5; // "Error"

// HTTP status minus 400.
static const AZ_status ostrel_l_az_http_statuses[17] = {
    AZ_HttpErrorBadRequest,
    AZ_ErrorUnknown,
    AZ_ErrorUnknown,
    AZ_HttpErrorForbidden,
    AZ_HttpErrorNotFound,
    AZ_ErrorMethodNotAllowed,
    AZ_ErrorUnknown,
    AZ_ErrorUnknown,
    AZ_ErrorUnknown,
    AZ_HttpErrorConflict,
    AZ_ErrorUnknown,
    AZ_ErrorMissingContentLength,
    AZ_ErrorPreconditionFailed,
    AZ_ErrorUnknown,
    AZ_ErrorUnknown,
    AZ_ErrorUnknown,
    AZ_ErrorInvalidRange,
};

const char *AZ_get_status_name(AZ_status status)
{
    if (status >= AZ_STATUS_COUNT) {
        return "Unknown";
    }
    return ostrel_l_az_status_names[status];
}

int AZ_status_is_retryable(AZ_status)
{
    // The blob client has already retried whatever deserved it.
    return 0;
}

AZ_status AZ_status_from_code_name(const char *code_name)
{
    if (code_name == nullptr) {
        return AZ_ErrorUnknown;
    }
    // The service's code for a failed access condition is not among the names.
    if (strcmp(code_name, "ConditionNotMet") == 0) {
        return AZ_ErrorPreconditionFailed;
    }
    // Nor is a refused token: callers renew it on a 403.
    if (strcmp(code_name, "AuthenticationFailed") == 0) {
        return AZ_HttpErrorForbidden;
    }
    for (AZ_status s = ostrel_l_az_first_service_code; s <= ostrel_l_az_last_service_code; s++) {
        if (strcmp(ostrel_l_az_status_names[s] + ostrel_l_az_error_prefix_length, code_name) == 0) {
            return s;
        }
    }
    return AZ_ErrorUnknown;
}

AZ_status AZ_status_from_http_status(const char *code)
{
    if (code == nullptr || *code == '\0') {
        return AZ_ErrorUnknown;
    }
    char *end = nullptr;
    errno = 0;
    long value = strtol(code, &end, 10);
    if (errno != 0 || *end != '\0' || value < 400 || value > 416) {
        return AZ_ErrorUnknown;
    }
    return ostrel_l_az_http_statuses[value - 400];
}

namespace ostrel_az
{

void az_result::take_error(const azure::blob_service::storage_error &error)
{
    using azure::blob_service::error_kind;

    *this = az_result();
    if (error.kind == error_kind::parse) {
        status_ = AZ_XmlParseFailure;
    } else if (error.kind == error_kind::too_large) {
        status_ = AZ_XmlDocumentTooLarge;
    } else if (!error.code_name.empty()) {
        status_ = AZ_status_from_code_name(error.code_name.c_str());
    } else {
        status_ = AZ_status_from_http_status(error.code.c_str());
    }
    has_code_ = true;
    code_ = error.code;
    // Without a service code a service answer's message is not the service's (a HEAD answer
    // has no body); the client's own findings always say what was wrong.
    bool own_finding = error.kind != error_kind::service && error.kind != error_kind::transport;
    if (!error.code_name.empty() || own_finding) {
        has_message_ = !error.message.empty();
        message_ = error.message;
        has_code_name_ = !error.code_name.empty();
        code_name_ = error.code_name;
    }
    if (error.kind == error_kind::parse && message_.empty()) {
        has_message_ = true;
        message_ = "the service's answer could not be parsed";
    }
    extra_ = error.details;
    if (status_ == AZ_ErrorInvalidRange) {
        add_range_details(error);
    }
}

// A refused range at the very end of a blob is how the service answers a restart there;
// these pairs let a caller recognise it without parsing header texts itself.
void az_result::add_range_details(const azure::blob_service::storage_error &error)
{
    std::string requested;
    std::string total;
    for (const auto &pair : error.details) {
        if (strcasecmp(pair.first.c_str(), "x-ms-range") == 0) {
            requested = pair.second;
        } else if (strcasecmp(pair.first.c_str(), "Content-Range") == 0) {
            uint64_t size = 0;
            if (azure::blob_service::content_range_total(pair.second, size)) {
                total = std::to_string(size);
            }
        }
    }
    if (!requested.empty()) {
        extra_.emplace_back(AZ_EXTRA_RANGE_REQUESTED, requested);
    }
    if (!total.empty()) {
        extra_.emplace_back(AZ_EXTRA_ACTUAL_BLOB_SIZE, total);
    }
}

void az_result::set_local(AZ_status status, std::string message)
{
    *this = az_result();
    status_ = status;
    has_message_ = true;
    message_ = std::move(message);
}

void az_result::set_status(AZ_status status) noexcept
{
    status_ = status;
    has_message_ = false;
    has_code_ = false;
    has_code_name_ = false;
    message_.clear();
    code_.clear();
    code_name_.clear();
    extra_.clear();
}

void az_result::complete(AZ_complete_callback complete, void *arg) const noexcept
{
    if (complete == nullptr) {
        return;
    }
    AZ_error_details details = {};
    // The callback gets mutable pointers but never owns them; the copies keep ours intact.
    std::string message;
    std::string code;
    std::string code_name;
    std::vector<std::string> texts;
    std::vector<AZ_name_value> extra;
    try {
        message = message_;
        code = code_;
        code_name = code_name_;
        texts.reserve(extra_.size() * 2);
        extra.reserve(extra_.size());
        for (const auto &pair : extra_) {
            texts.push_back(pair.first);
            texts.push_back(pair.second);
        }
        for (size_t i = 0; i < extra_.size(); i++) {
            extra.push_back({texts[2 * i].c_str(), texts[2 * i + 1].c_str()});
        }
        if (has_message_) {
            details.message = message.data();
        }
        if (has_code_) {
            details.code = code.data();
        }
        if (has_code_name_) {
            details.code_name = code_name.data();
        }
        if (!extra.empty()) {
            details.extra_count = static_cast<int32_t>(extra.size());
            details.extra = extra.data();
        }
    } catch (...) {
        // Out of memory while copying texts: the status alone still tells the outcome.
        details = AZ_error_details{};
    }
    complete(status_, &details, arg);
}

} // namespace ostrel_az
