-- wrk script for bench/soak.sh: SOAK_URL through the proxy, SOAK_DEPTH
-- requests written back to back (pipelined) each time.
local url = os.getenv("SOAK_URL")
local depth = tonumber(os.getenv("SOAK_DEPTH") or "1")
wrk.headers["Host"] = os.getenv("SOAK_HOST")

function init(args)
   req = string.rep(wrk.format("GET", url), depth)
end

function request()
   return req
end

function done(summary, latency, requests)
   local e = summary.errors
   io.write(string.format("SOAK requests=%d socket_errors=%d non2xx=%d\n", summary.requests,
                          e.connect + e.read + e.write + e.timeout, e.status))
end
