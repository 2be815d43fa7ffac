/* nibword.js: opens a document for editing in Word from a web page, through
 * the NibWordLib object where the page can create it (IE, Edge in IE mode),
 * else through the nibword: launcher (NibWordHost.exe), and tells the page how
 * the cycle goes with one set of events either way.
 *
 *   var helper = NibWord.create({ timeout: 30000 });
 *   helper.on("opened", function (d) { ... });   // the document is open in Word
 *   helper.on("saved",  function (d) { ... });   // uploaded; d.final: the cycle ended with it
 *   helper.on("closed", function (d) { ... });   // the cycle ended (d.saved: with a save)
 *   helper.on("failed", function (d) { ... });   // d.reason, d.message (Chinese), d.hint; d.retry: the user can still save
 *   helper.on("event",  function (d) { ... });   // every OnEventStart: d.args = [P1..P5]
 *   helper.edit("notice42");
 *
 * It talks to the reference server (examples/server): POST
 * /api/documents/<id>/edit-session gives the nibword: link (and the same job
 * for the object); the launcher's posts come back as Server-Sent Events, or by
 * polling where the browser has no EventSource.
 *
 * Plain ES5 (no Promise, fetch or arrow functions): the ActiveX path runs in IE.
 */
(function (global) {
  "use strict";

  var PROG_ID = "NibWordLib.NibWord";
  var CLASS_ID = "clsid:358ECC3E-6668-48DF-993E-0410762EAC63";

  var MESSAGES = {
    timeout: function (seconds) {
      return "未能启动 Word 编辑组件:" + seconds + " 秒内没有收到启动器 NibWordHost 的消息。";
    },
    hint: "请确认本机已安装 NibWordLib(安装包 NibWordLib.msi,由管理员提供)," +
          "并在浏览器询问是否打开 NibWordHost 时选择“打开”。安装后请刷新本页再试。",
    request: "不能向服务器申请编辑:",
    open: "打开文档失败:",
    noObject: "本页不能创建 NibWordLib 对象。"
  };

  function each(list, fn) { for (var i = 0; i < list.length; i++) fn(list[i], i); }

  function request(method, url, body, done) {
    var xhr = new XMLHttpRequest();
    xhr.open(method, url, true);
    xhr.setRequestHeader("Content-Type", "application/json; charset=utf-8");
    xhr.onreadystatechange = function () {
      if (xhr.readyState !== 4) return;
      var json = null;
      try { json = JSON.parse(xhr.responseText); } catch (e) { json = null; }
      done(xhr.status, json, xhr.responseText);
    };
    xhr.send(body == null ? null : JSON.stringify(body));
  }

  // Can this page create the object? (Only IE and Edge's IE mode can.)
  function canCreateObject() {
    if (typeof global.ActiveXObject === "undefined") return false;
    try {
      var probe = new global.ActiveXObject(PROG_ID);
      probe = null;
      return true;
    } catch (e) {
      return false;
    }
  }

  // Calls a method of a COM object by name. (COM methods are not JavaScript
  // functions in IE: no .apply.)
  function callMember(object, member, args) {
    switch (args.length) {
      case 0: return object[member]();
      case 1: return object[member](args[0]);
      case 2: return object[member](args[0], args[1]);
      case 3: return object[member](args[0], args[1], args[2]);
      default: throw new Error(member + ": too many arguments");
    }
  }

  function Helper(options) {
    options = options || {};
    this.options = {
      server: options.server || "",                 // the reference server's address ("" = this site)
      timeout: options.timeout == null ? 30000 : options.timeout,   // ms to wait for the launcher
      open: options.open || ["1", ""],
      path: options.path || "auto",                 // "auto", "activex" or "launcher"
      object: options.object || null,               // an <object> element of the control, if the page has one
      navigate: options.navigate || "iframe",       // "iframe", "location" or function (link)
      pollInterval: options.pollInterval || 2000
    };
    this.handlers = {};
    this.state = "idle";        // idle, requesting, started, opened, saved, closed, failed
    this.session = null;
    this.link = null;
    this.via = null;            // "activex" or "launcher"
    this._seen = 0;
    this._timer = null;
    this._stream = null;
    this._poller = null;
  }

  Helper.prototype.on = function (name, fn) {
    (this.handlers[name] = this.handlers[name] || []).push(fn);
    return this;
  };

  Helper.prototype._emit = function (name, data) {
    var list = this.handlers[name] || [];
    for (var i = 0; i < list.length; i++) {
      try { list[i].call(this, data); } catch (e) { if (global.console) global.console.error(e); }
    }
  };

  // One notice of the cycle, from the server or from the object itself.
  Helper.prototype._notice = function (type, data) {
    data = data || {};
    if (type === "started" && this.state === "requesting") this._setState("started");
    if (type === "started" || type === "opened" || type === "event" || type === "failed") this._clearTimer();
    if (type === "opened") this._setState("opened");
    if (type === "saved" && data.final) this._setState("saved");
    if (type === "closed" && this.state !== "saved") this._setState("closed");
    if (type === "failed") this._setState("failed");
    this._emit(type, data);
    // A failure the user can still retry (the unattended upload refused, the
    // document open in Word) keeps following the cycle: the retry's save comes next.
    if (type === "closed" || (type === "failed" && data.reason !== "timeout" && data.retry !== true)) this._stop();
  };

  Helper.prototype._setState = function (state) {
    if (this.state === state) return;
    this.state = state;
    this._emit("state", { state: state });
  };

  Helper.prototype._fail = function (reason, message, hint) {
    this._notice("failed", { reason: reason, message: message, hint: hint || "" });
  };

  Helper.prototype._clearTimer = function () {
    if (this._timer) { clearTimeout(this._timer); this._timer = null; }
  };

  Helper.prototype._stop = function () {
    this._clearTimer();
    if (this._stream) { this._stream.close(); this._stream = null; }
    if (this._poller) { clearInterval(this._poller); this._poller = null; }
  };

  // Opens document `id` for editing.
  Helper.prototype.edit = function (id) {
    var self = this;
    this._stop();
    this.state = "idle";
    this._seen = 0;
    var path = this.options.path;
    if (path === "auto") path = canCreateObject() ? "activex" : "launcher";
    this.via = path;
    this._setState("requesting");
    var url = this.options.server + "/api/documents/" + encodeURIComponent(id) + "/edit-session";
    request("POST", url, { open: this.options.open }, function (status, answer, text) {
      if (status !== 201 || !answer) {
        self._fail("request", MESSAGES.request + (text || ("HTTP " + status)));
        return;
      }
      self.session = answer;
      self.link = answer.link;
      if (path === "activex") self._openWithObject(answer.direct);
      else self._openWithLauncher(answer);
    });
  };

  // ----- the launcher path

  Helper.prototype._openWithLauncher = function (answer) {
    var self = this;
    this._emit("link", { link: answer.link });
    this._follow(answer);
    if (this.options.timeout > 0) {
      this._timer = setTimeout(function () {
        self._timer = null;
        if (self.state !== "requesting") return;
        // Still listening: a launcher the user lets start late still reports.
        self._fail("timeout", MESSAGES.timeout(Math.round(self.options.timeout / 1000)), MESSAGES.hint);
      }, this.options.timeout);
    }
    var navigate = this.options.navigate;
    if (typeof navigate === "function") {
      navigate(answer.link);
    } else if (navigate === "location") {
      global.location.href = answer.link;
    } else {
      // A hidden frame: a browser without a handler fails only the frame, not the page.
      var frame = document.createElement("iframe");
      frame.style.display = "none";
      frame.src = answer.link;
      document.body.appendChild(frame);
      setTimeout(function () { if (frame.parentNode) frame.parentNode.removeChild(frame); }, 60000);
    }
  };

  Helper.prototype._take = function (notice) {
    if (!notice || notice.id <= this._seen) return;
    this._seen = notice.id;
    this._notice(notice.type, notice.data);
  };

  // The server's notices for the session: Server-Sent Events, else polling.
  Helper.prototype._follow = function (answer) {
    var self = this;
    var base = this.options.server;
    if (typeof global.EventSource === "function") {
      var stream = new global.EventSource(base + answer.stream);
      this._stream = stream;
      each(["started", "opened", "event", "uploaded", "saved", "closed", "failed"], function (type) {
        stream.addEventListener(type, function (message) {
          var notice;
          try { notice = JSON.parse(message.data); } catch (e) { return; }
          self._take(notice);
        });
      });
      return;
    }
    this._poller = setInterval(function () {
      request("GET", base + answer.state, null, function (status, state) {
        if (status === 200 && state) each(state.notices, function (n) { self._take(n); });
      });
    }, this.options.pollInterval);
  };

  // ----- the ActiveX path

  // The object's event. Pages that connect it themselves
  // (function nib::OnEventStart(p1, p2, p3, p4, p5) { helper.objectEvent(p1, p2, p3, p4, p5); })
  // hand it on here.
  // An event argument as the launcher posts it: text, an object (the opened
  // document) as its name, or "[object]"; null only for nothing, so that the
  // server can tell an open that failed (no document) from one that worked.
  function argumentText(v) {
    if (v == null || typeof v === "unknown") return null;
    if (typeof v !== "object") return String(v);
    try { return String(v.Name); } catch (e) { return "[object]"; }
  }

  Helper.prototype.objectEvent = function (p1, p2, p3, p4, p5) {
    var args = [p1, p2, p3, p4, p5];
    var text = [];
    each(args, function (v) { text.push(argumentText(v)); });
    this._report({ event: text });
    this._notice("event", { args: text });
    if (p1 === "quit" || p1 === "GWQuit") {
      if (p2 === "Save") {
        this._notice("saved", { final: true, height: text[2] });
        this._notice("closed", { saved: true });
      } else if (p2 === "TempSave") {
        this._notice("saved", { final: false, height: text[2] });
      } else if (p2 === "NoSave") {
        this._notice("closed", { saved: false });
      }
    }
  };

  // Tells the server what the object did (as the launcher would), so that the
  // server's session and its token follow the cycle; applies any settings the
  // answer carries (the template chooser's answer).
  Helper.prototype._report = function (post) {
    var self = this;
    var job = this._job;
    if (!job || !job.events) return;
    request("POST", job.events, post, function (status, answer) {
      if (status === 200 && answer && answer.settings && self.object) {
        each(answer.settings, function (s) { callMember(self.object, s[0], s.slice(1)); });
      }
    });
  };

  Helper.prototype._object = function () {
    var self = this;
    var element = this.options.object;
    if (!element) {
      // An <object> element: only an element's object delivers its events to the page.
      element = document.createElement("object");
      element.setAttribute("classid", CLASS_ID);
      element.style.width = "0";
      element.style.height = "0";
      document.body.appendChild(element);
      this.options.object = element;
    }
    if (!element.attachEvent || element._nibWordConnected) return element;
    element._nibWordConnected = true;
    element.attachEvent("OnEventStart", function (p1, p2, p3, p4, p5) { self.objectEvent(p1, p2, p3, p4, p5); });
    return element;
  };

  Helper.prototype._openWithObject = function (job) {
    var object;
    this._job = job;
    try {
      object = this._object();
      this.object = object;
      each(job.settings, function (s) { callMember(object, s[0], s.slice(1)); });
    } catch (e) {
      this._fail("object", MESSAGES.noObject + (e.description || e.message || ""));
      return;
    }
    this._report({ started: { via: "activex" } });
    this._notice("started", { by: "activex" });
    var result;
    try {
      result = object.OpenFile(job.open[0], job.open[1]);
    } catch (e) {
      var message = e.description || e.message || String(e);
      this._report({ error: message, source: "NibWordLib.NibWord" });
      this._fail("open", MESSAGES.open + message);
      return;
    }
    result = result == null ? "" : String(result);
    this._report({ result: result });
    if (this.state === "started") this._notice("opened", { result: result });
    // The unattended mode "3" has uploaded (or not) by the time OpenFile returns.
    if (job.open[0] === "3") {
      if (/^OK:/i.test(result)) {
        this._notice("saved", { final: true, height: result.slice(3) });
        this._notice("closed", { saved: true });
      } else {
        this._fail("open", MESSAGES.open + "没有上传");
      }
    }
  };

  global.NibWord = {
    create: function (options) { return new Helper(options); },
    messages: MESSAGES
  };
})(this);
