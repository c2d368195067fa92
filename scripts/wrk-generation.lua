-- wrk script: the desktop tool's generation round trip. Each connection alternates between the
-- generation request (a new text each time, so the service renders) and the fetch of the
-- picture path from its reply. Two requests make one stamp.
local counter = 0
local next_path = nil
-- Company-seal templates: they take long texts, so every request is a valid generation.
local ids = {365, 369, 364, 357, 359, 129}

function setup(thread)
  thread:set("seed", math.random(1, 1000000))
end

function request()
  if next_path then
    local p = next_path
    next_path = nil
    return wrk.format("GET", p)
  end
  counter = counter + 1
  local id = ids[(counter % #ids) + 1]
  local text = string.format("%%E5%%A4%%A9%%E5%%AE%%9D%d-%d", seed or 0, counter)
  return wrk.format("GET", "/aosbegin.php?text=" .. text .. "&id=" .. id .. "&signsize=0&rnd=0.3")
end

function response(status, headers, body)
  local p = body and body:match("<outputimg>%.(.-)</outputimg>")
  if p then next_path = p end
end

function done(summary, latency, requests)
  local seconds = summary.duration / 1e6
  io.write(string.format("stamps/s: %.0f (each = reply + picture)\n", summary.requests / 2 / seconds))
  io.write(string.format("request latency p50 %.2f ms, p99 %.2f ms\n", latency:percentile(50) / 1000,
                         latency:percentile(99) / 1000))
  io.write(string.format("errors: connect %d, read %d, write %d, status %d, timeout %d\n", summary.errors.connect,
                         summary.errors.read, summary.errors.write, summary.errors.status, summary.errors.timeout))
end
