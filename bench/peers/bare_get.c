/* The floor: the same HTTPS GET as the agent's, with libcurl and nothing else. Each of
 * the COUNT requests uses a fresh easy handle, as the agent does; the bodies go to stdout.
 *
 *   bare_get URL CAFILE COUNT [HOST:PORT:HOST2:PORT2]...
 */
#include <curl/curl.h>

#include <stdio.h>
#include <stdlib.h>

int main(int argc, char** argv) {
    if (argc < 4) {
        fprintf(stderr, "usage: bare_get URL CAFILE COUNT [CONNECT_TO]...\n");
        return 2;
    }
    const long count = strtol(argv[3], NULL, 10);
    struct curl_slist* connectTo = NULL;
    for (int i = 4; i < argc; ++i) {
        connectTo = curl_slist_append(connectTo, argv[i]);
    }
    curl_global_init(CURL_GLOBAL_DEFAULT);
    int failures = 0;
    for (long i = 0; i < count; ++i) {
        CURL* handle = curl_easy_init();
        curl_easy_setopt(handle, CURLOPT_URL, argv[1]);
        curl_easy_setopt(handle, CURLOPT_CAINFO, argv[2]);
        curl_easy_setopt(handle, CURLOPT_CONNECT_TO, connectTo);
        const CURLcode code = curl_easy_perform(handle);
        if (code != CURLE_OK) {
            fprintf(stderr, "bare_get: %s\n", curl_easy_strerror(code));
            ++failures;
        }
        fflush(stdout);
        curl_easy_cleanup(handle);
    }
    curl_slist_free_all(connectTo);
    curl_global_cleanup();
    return failures == 0 ? 0 : 1;
}
