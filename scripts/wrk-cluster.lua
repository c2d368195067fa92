-- wrk script for the cluster test: every request asks for a picture nobody asked for before
-- (a new text each time), so nginx's cache misses and an instance renders it.
local counter = 0

function setup(thread)
  thread:set("seed", math.random(1, 1000000))
end

function request()
  counter = counter + 1
  local text = string.format("%%E5%%A4%%A9%%E5%%AE%%9D%d-%d", seed or 0, counter)
  return wrk.format("GET", "/stamp/369/0/" .. text .. ".png")
end

function done(summary, latency, requests)
  local seconds = summary.duration / 1e6
  local e = summary.errors
  io.write(string.format("requests %d, %.0f/s, p50 %.2f ms, p99 %.2f ms\n", summary.requests,
                         summary.requests / seconds, latency:percentile(50) / 1000,
                         latency:percentile(99) / 1000))
  io.write(string.format("failed %d (connect %d, read %d, write %d, status %d, timeout %d)\n",
                         e.connect + e.read + e.write + e.status + e.timeout, e.connect, e.read,
                         e.write, e.status, e.timeout))
end
