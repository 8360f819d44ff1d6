# The regular-expression object and the share-link extraction live in share_text (PCRE2).
list(APPEND SHARE_LIBS share_text)
