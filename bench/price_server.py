"""The five price services on one local HTTPS server, for the benchmarks.

Every answer carries a price one dollar above the previous one, so each pass changes the
title and a status bar gets one line per pass. Each service answers in every currency it
quotes (US dollars, euros, pounds, Canadian dollars, Swiss francs, Australian dollars, yen),
at fixed rates. The server counts the requests it answers
and keeps the time of each (CLOCK_MONOTONIC, the clock every process here shares), and it
can hold answers back until told to let them go, so that a client can be looked at while
its request is in flight.

Run alone: python3 price_server.py CERT KEY [PORT]  (prints the port, serves until ^C).
"""

import http.server
import json
import re
import multiprocessing
import socket
import ssl
import sys
import threading
import time

HOSTS = ["mempool.space", "api.coinbase.com", "api.kraken.com", "blockchain.info",
         "api.coingecko.com"]
URLS = {
    "mempool.space": "https://mempool.space/api/v1/prices",
    "coinbase": "https://api.coinbase.com/v2/prices/BTC-USD/spot",
    "kraken": "https://api.kraken.com/0/public/Ticker?pair=XBTUSD",
    "blockchain.info": "https://blockchain.info/ticker",
    "coingecko": "https://api.coingecko.com/api/v3/simple/price?ids=bitcoin&vs_currencies=usd",
}
BASE_PRICE = 60000
# What one US dollar is worth in each currency the services quote, and the key Kraken's
# answer gives each pair (it differs from the pair asked for).
RATES = {"USD": 1, "EUR": 0.9, "GBP": 0.8, "CAD": 1.4, "CHF": 0.9, "AUD": 1.5, "JPY": 150}
KRAKEN_KEYS = {"USD": "XXBTZUSD", "EUR": "XXBTZEUR", "GBP": "XXBTZGBP", "CAD": "XXBTZCAD",
               "CHF": "XBTCHF", "AUD": "XBTAUD", "JPY": "XXBTZJPY"}
# Request times kept, the latest ones (a ring).
TIME_SLOTS = 65536


def body_for(path, price):
    """The answer of the service at `path`, in its own format, or None."""
    amount = f"{price}.25"

    def local(code):
        return round(float(amount) * RATES[code], 2)

    coinbase = re.fullmatch(r"/v2/prices/BTC-([A-Z]{3})/spot", path)
    kraken = re.fullmatch(r"/0/public/Ticker\?pair=XBT([A-Z]{3})", path)
    coingecko = re.fullmatch(r"/api/v3/simple/price\?ids=bitcoin&vs_currencies=([a-z]{3})", path)
    if path == "/api/v1/prices":
        return {"time": int(time.time()), **{code: local(code) for code in RATES}}
    if coinbase and coinbase[1] in RATES:
        code = coinbase[1]
        text = amount if code == "USD" else f"{local(code):.2f}"
        return {"data": {"amount": text, "base": "BTC", "currency": code}}
    if kraken and kraken[1] in RATES:
        code = kraken[1]
        text = amount if code == "USD" else f"{local(code):.5f}"
        return {"error": [], "result": {KRAKEN_KEYS[code]: {"c": [text, "0.001"]}}}
    if path == "/ticker":
        return {code: {"15m": local(code), "last": local(code),
                       "symbol": "$" if code == "USD" else code} for code in RATES}
    if coingecko and coingecko[1].upper() in RATES:
        return {"bitcoin": {coingecko[1]: local(coingecko[1].upper())}}
    return None


class SharedState:
    """What the server and the process that drives the benchmarks share."""

    def __init__(self):
        self.count = multiprocessing.Value("q", 0)
        self.times = multiprocessing.Array("d", TIME_SLOTS, lock=False)
        self.holding = multiprocessing.Event()
        self.release = multiprocessing.Event()
        self.port = multiprocessing.Value("i", 0)
        self.ready = multiprocessing.Event()

    def requests(self):
        return self.count.value

    def request_times(self, since_count=0):
        """Times of the requests numbered since_count.. (0-based), as far as kept."""
        with self.count.get_lock():
            end = self.count.value
        start = max(since_count, end - TIME_SLOTS)
        return [self.times[i % TIME_SLOTS] for i in range(start, end)]

    def hold(self):
        self.release.clear()
        self.holding.set()

    def let_go(self):
        self.holding.clear()
        self.release.set()


def make_handler(state):
    class Handler(http.server.BaseHTTPRequestHandler):
        protocol_version = "HTTP/1.1"

        def do_GET(self):
            with state.count.get_lock():
                number = state.count.value
                state.count.value = number + 1
                state.times[number % TIME_SLOTS] = time.monotonic()
            body = body_for(self.path, BASE_PRICE + number % 20000)
            if state.holding.is_set():
                state.release.wait(30)
            if body is None:
                self.send_error(404)
                return
            data = (json.dumps(body) + "\n").encode()
            self.send_response(200)
            self.send_header("Content-Type", "application/json")
            self.send_header("Content-Length", str(len(data)))
            self.send_header("Connection", "close")
            self.end_headers()
            self.wfile.write(data)
            self.close_connection = True

        def log_message(self, *args):
            pass

    return Handler


class TlsServer(http.server.ThreadingHTTPServer):
    daemon_threads = True
    request_queue_size = 64

    def __init__(self, address, handler, context):
        self.context = context
        super().__init__(address, handler)

    def handle_error(self, request, client_address):
        pass  # a client that went away mid-answer (one ended on purpose, say)

    def finish_request(self, request, client_address):
        # The handshake runs on the connection's own thread, not on the accepting one.
        try:
            request = self.context.wrap_socket(request, server_side=True)
        except (ssl.SSLError, OSError):
            return
        super().finish_request(request, client_address)


def serve(state, cert, key, port=0):
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(cert, key)
    server = TlsServer(("127.0.0.1", port), make_handler(state), context)
    state.port.value = server.server_address[1]
    state.ready.set()
    server.serve_forever(poll_interval=3600)


def start(cert, key):
    """Starts the server in a process of its own; returns (process, state)."""
    state = SharedState()
    process = multiprocessing.Process(target=serve, args=(state, cert, key), daemon=True)
    process.start()
    if not state.ready.wait(10):
        process.terminate()
        raise RuntimeError("the price server did not start")
    return process, state


def refusing_port():
    """A loopback port on which nothing listens, so that connecting is refused at once."""
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


if __name__ == "__main__":
    shared = SharedState()
    threading.Thread(target=lambda: (shared.ready.wait(), print(shared.port.value, flush=True)),
                     daemon=True).start()
    serve(shared, sys.argv[1], sys.argv[2], int(sys.argv[3]) if len(sys.argv) > 3 else 0)
