#pragma once

// Base URL of the content server: an HTTPS URL ending in "/", chosen when the program is built
// (CMake cache variable VIGILOR_CONTENT_SERVER_URL). Every request is this text followed by a path.
extern const char kContentServerUrl[];

// PEM text of the CA that the content server's certificate must chain to (VIGILOR_CONTENT_SERVER_CA),
// or an empty text when the system's trust store applies.
extern const char kPinnedContentServerCa[];
