-- wrk script: keep-alive POST with a 5-byte body.
wrk.method = "POST"
wrk.body = "hello"
wrk.headers["Content-Type"] = "text/plain"
