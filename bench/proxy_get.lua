-- wrk through a forward proxy: BENCH_PATH is the absolute URL, BENCH_HOST the
-- origin's host:port. Prints one "BENCH requests=N" line.
wrk.path = os.getenv("BENCH_PATH")
wrk.headers["Host"] = os.getenv("BENCH_HOST")

function done(summary, latency, requests)
   io.write(string.format("BENCH requests=%d p50_us=%d p99_us=%d errors=%d\n",
      summary.requests, latency:percentile(50), latency:percentile(99),
      summary.errors.connect + summary.errors.write + summary.errors.timeout + summary.errors.status))
end
