// The script side of the browser build's HTTP requests (fetcher.cpp): each
// request is a fetch() with an AbortController for its time limit and for a
// cancel, kept by number until the program has taken its answer. Only the
// page's own origin is asked: a request to another origin is refused at once
// (the board that serves the game is the only one it talks to, and a browser
// would not let it read another's answers anyway). The error numbers are
// THttpError's: 0 none, 1 connect, 2 timeout, 3 cancelled, 4 too large, 5 other.
mergeInto(LibraryManager.library, {
  $ZQHTTP: {
    next: 1,
    requests: {},
    // Ends a request with an error and no answer.
    fail: function (r, error, text) {
      if (r.done) return;
      r.done = true;
      r.status = 0;
      r.error = error;
      r.errorText = text;
      r.body = new Uint8Array(0);
      if (r.timer) clearTimeout(r.timer);
    },
  },

  zqhttp_start__deps: ['$ZQHTTP'],
  zqhttp_start: function (method, url, headers, body, bodySize, timeoutMs, maxBytes) {
    var id = ZQHTTP.next++;
    var r = { done: false, status: 0, error: 0, errorText: '', retryAfter: -1,
              body: new Uint8Array(0), cancelled: false, timedOut: false, timer: 0 };
    ZQHTTP.requests[id] = r;
    var target;
    try {
      target = new URL(UTF8ToString(url), location.href);
    } catch (e) {
      ZQHTTP.fail(r, 5, 'not a URL: ' + UTF8ToString(url));
      return id;
    }
    if (target.origin !== location.origin) {
      ZQHTTP.fail(r, 5, 'refused: ' + target.origin + ' is not this page\'s origin (' +
                  location.origin + ')');
      return id;
    }
    var init = { method: UTF8ToString(method), headers: {}, redirect: 'error',
                 credentials: 'omit', cache: 'no-store' };
    UTF8ToString(headers).split('\n').forEach(function (line) {
      var colon = line.indexOf(':');
      if (colon <= 0) return;
      var value = line.substring(colon + 1).trim();
      // An empty value (curl's "Expect:") asks for nothing here.
      if (value !== '') init.headers[line.substring(0, colon).trim()] = value;
    });
    if (init.method !== 'GET' && init.method !== 'HEAD' && bodySize > 0) {
      init.body = HEAPU8.slice(body, body + bodySize);
    }
    r.controller = new AbortController();
    init.signal = r.controller.signal;
    r.timer = setTimeout(function () {
      r.timedOut = true;
      r.controller.abort();
    }, timeoutMs);
    fetch(target.href, init).then(function (response) {
      var retry = response.headers.get('Retry-After');
      r.retryAfter = retry !== null && /^\s*\d{1,7}\s*$/.test(retry) ? parseInt(retry, 10) : -1;
      var length = Number(response.headers.get('Content-Length'));
      if (length > maxBytes) {
        r.controller.abort();
        ZQHTTP.fail(r, 4, 'the answer is too long');
        return;
      }
      return response.arrayBuffer().then(function (buffer) {
        if (r.done) return;
        if (buffer.byteLength > maxBytes) {
          ZQHTTP.fail(r, 4, 'the answer is too long');
          return;
        }
        clearTimeout(r.timer);
        r.done = true;
        r.status = response.status;
        r.body = new Uint8Array(buffer);
      });
    }).catch(function (e) {
      if (r.cancelled) ZQHTTP.fail(r, 3, 'cancelled');
      else if (r.timedOut) ZQHTTP.fail(r, 2, 'no answer in ' + timeoutMs + ' ms');
      else ZQHTTP.fail(r, 1, String(e && e.message ? e.message : e));
    });
    return id;
  },

  zqhttp_state__deps: ['$ZQHTTP'],
  zqhttp_state: function (id) {
    var r = ZQHTTP.requests[id];
    return !r || r.done ? 1 : 0;
  },
  zqhttp_status__deps: ['$ZQHTTP'],
  zqhttp_status: function (id) { var r = ZQHTTP.requests[id]; return r ? r.status : 0; },
  zqhttp_error__deps: ['$ZQHTTP'],
  zqhttp_error: function (id) { var r = ZQHTTP.requests[id]; return r ? r.error : 5; },
  zqhttp_retry_after__deps: ['$ZQHTTP'],
  zqhttp_retry_after: function (id) { var r = ZQHTTP.requests[id]; return r ? r.retryAfter : -1; },
  zqhttp_body_size__deps: ['$ZQHTTP'],
  zqhttp_body_size: function (id) { var r = ZQHTTP.requests[id]; return r ? r.body.length : 0; },
  zqhttp_body__deps: ['$ZQHTTP'],
  zqhttp_body: function (id, out) { HEAPU8.set(ZQHTTP.requests[id].body, out); },
  zqhttp_error_text__deps: ['$ZQHTTP'],
  zqhttp_error_text: function (id, out, size) {
    var r = ZQHTTP.requests[id];
    return stringToUTF8(r ? r.errorText : 'no such request', out, size);
  },
  zqhttp_abort__deps: ['$ZQHTTP'],
  zqhttp_abort: function (id) {
    var r = ZQHTTP.requests[id];
    if (!r || r.done) return;
    r.cancelled = true;
    if (r.controller) r.controller.abort();
    ZQHTTP.fail(r, 3, 'cancelled');
  },
  zqhttp_forget__deps: ['$ZQHTTP'],
  zqhttp_forget: function (id) { delete ZQHTTP.requests[id]; },
});
