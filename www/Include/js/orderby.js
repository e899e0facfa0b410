// Sorting of list tables by a click on a column head: a table whose THEAD cell
// carries the attribute "sortable" sorts its first TBODY by that column; a
// second click reverses the order. The arrow of the sorted column is drawn in
// a SPAN of class "arrow" inside the head cell.
(function () {
  function cellText(row, index) {
    var cell = row.cells[index];
    return cell ? (cell.textContent || cell.innerText || "").replace(/^\s+|\s+$/g, "") : "";
  }

  function compare(a, b) {
    var x = parseFloat(a), y = parseFloat(b);
    if (!isNaN(x) && !isNaN(y) && String(x) === a && String(y) === b) return x - y;
    return a.localeCompare(b, "zh-CN");
  }

  function sortTable(head) {
    var table = head;
    while (table && table.tagName !== "TABLE") table = table.parentNode;
    if (!table || !table.tBodies.length) return;
    var body = table.tBodies[0];
    var index = head.cellIndex;
    var descending = head.getAttribute("data-order") === "asc";
    var rows = Array.prototype.slice.call(body.rows);
    rows.sort(function (r1, r2) {
      var c = compare(cellText(r1, index), cellText(r2, index));
      return descending ? -c : c;
    });
    for (var i = 0; i < rows.length; i++) body.appendChild(rows[i]);
    var heads = head.parentNode.cells;
    for (var j = 0; j < heads.length; j++) {
      heads[j].removeAttribute("data-order");
      var arrow = heads[j].querySelector ? heads[j].querySelector(".arrow") : null;
      if (arrow) arrow.textContent = "";
    }
    head.setAttribute("data-order", descending ? "desc" : "asc");
    var mine = head.querySelector ? head.querySelector(".arrow") : null;
    if (mine) mine.textContent = descending ? "\u25bc" : "\u25b2";
  }

  document.addEventListener("click", function (e) {
    var target = e.target;
    while (target && target.tagName !== "TD" && target.tagName !== "TH") target = target.parentNode;
    if (target && target.hasAttribute("sortable") && target.parentNode.parentNode.tagName === "THEAD") {
      sortTable(target);
    }
  });

  window.orderbyTable = sortTable;
})();

// Pages written for a browser that runs VBScript and showModalDialog: their
// VBScript client functions (SetEmpty, openWinU, openWinW, openWinC, openWinB,
// openWin, doDelCondition) and their "vbscript:" event handlers. Where the
// browser runs VBScript the page's own code runs and nothing here is used.
// Elsewhere the functions are defined here with the same effect on the form,
// their modal dialogs open inside the page, and each "vbscript:" handler is
// read as the one VBScript call it holds and run.
(function () {
  var SEPARATOR = "$#@&!";
  // VBScript runs in the browsers that report a document mode before 11.
  if (typeof document.documentMode === "number" && document.documentMode < 11) return;

  // --- The in-page modal dialog -------------------------------------------

  // A number of pixels of a showModalDialog feature ("dialogWidth:400px").
  function feature(features, name, fallback) {
    var m = new RegExp(name + "\\s*:\\s*(\\d+)", "i").exec(features || "");
    return m ? parseInt(m[1], 10) : fallback;
  }

  var STYLE = ".oapx1-modal{position:fixed;left:0;top:0;right:0;bottom:0;z-index:2147483000;" +
    "background:rgba(0,0,0,.35);display:flex;align-items:center;justify-content:center}" +
    ".oapx1-modal-box{display:flex;flex-direction:column;max-width:100%;max-height:100%;" +
    "background:#fff;border:1px solid #808080;box-shadow:0 4px 16px rgba(0,0,0,.4)}" +
    ".oapx1-modal-bar{display:flex;align-items:center;background:#E4E4E0;padding:2px 4px;" +
    "font:bold 12px sans-serif}.oapx1-modal-bar span{flex:1}" +
    ".oapx1-modal-bar button{border:0;background:transparent;font:16px sans-serif;cursor:pointer}" +
    ".oapx1-modal iframe{border:0;flex:1;width:100%;min-height:0}";

  // Opens `url` in a modal dialog of the size `features` asks for and calls
  // done(result) once when it closes: the value the page set as its
  // returnValue before window.close(), or undefined when it was cancelled.
  function showDialog(url, features, done) {
    if (!document.getElementById("oapx1-modal-style")) {
      var style = document.createElement("style");
      style.id = "oapx1-modal-style";
      style.appendChild(document.createTextNode(STYLE));
      (document.head || document.documentElement).appendChild(style);
    }
    var opener = document.activeElement;
    var overlay = document.createElement("div");
    overlay.className = "oapx1-modal";
    var box = document.createElement("div");
    box.className = "oapx1-modal-box";
    box.setAttribute("role", "dialog");
    box.setAttribute("aria-modal", "true");
    box.style.width = feature(features, "dialogWidth", 400) + "px";
    box.style.height = (feature(features, "dialogHeight", 450) + 26) + "px";
    var bar = document.createElement("div");
    bar.className = "oapx1-modal-bar";
    var title = document.createElement("span");
    var close = document.createElement("button");
    close.type = "button";
    close.title = "\u5173\u95ed";
    close.setAttribute("aria-label", "\u5173\u95ed");
    close.appendChild(document.createTextNode("\u00d7"));
    bar.appendChild(title);
    bar.appendChild(close);
    var frame = document.createElement("iframe");
    frame.name = "oapx1Modal";
    var finished = false;
    function finish(result) {
      if (finished) return;
      finished = true;
      overlay.parentNode.removeChild(overlay);
      document.removeEventListener("keydown", onKey, true);
      if (opener && opener.focus) opener.focus();
      done(result);
    }
    function onKey(e) {
      if (e.key === "Escape" || e.keyCode === 27) { e.preventDefault(); finish(undefined); }
    }
    // The dialog page ends the dialog through this, or through returnValue
    // and window.close() as under showModalDialog.
    frame.oapx1Close = finish;
    frame.addEventListener("load", function () {
      try {
        var w = frame.contentWindow;
        title.textContent = w.document.title;
        box.setAttribute("aria-label", w.document.title);
        w.close = function () { finish(w.returnValue); };
        w.addEventListener("keydown", onKey, true);
        w.focus();
      } catch (e) { /* a page of another origin keeps its own close */ }
    });
    close.addEventListener("click", function () { finish(undefined); });
    document.addEventListener("keydown", onKey, true);
    box.appendChild(bar);
    box.appendChild(frame);
    overlay.appendChild(box);
    (document.body || document.documentElement).appendChild(overlay);
    frame.src = url;
  }

  // --- The page's client functions ------------------------------------------

  function form() { return document.formData || document.forms.formData; }
  function blank(k) { return k === undefined || k === null || k === ""; }
  // split(k, separator) as VBScript gives it: an empty result has no pieces.
  function pieces(k, separator) { return blank(k) ? [] : String(k).split(separator); }
  // Sets two fields of the form from the first two pieces, or neither when
  // the result has no second piece.
  function fill(valueField, textField, parts) {
    if (parts.length < 2) return;
    form()[valueField].value = parts[0];
    form()[textField].value = parts[1];
  }

  var functions = {
    SetEmpty: function (parm) {
      if (parm === "J") {
        form().FenFaUser.value = "";
        form().FenFaUserDis.value = "";
      } else {
        form().FenFaBuMen.value = "";
        form().FenFaBuMenDis.value = "";
      }
    },
    openWinW: function (url) {
      showDialog(url, "dialogWidth:400px;dialogHeight:450px", function (k) {
        if (!blank(k)) fill("FenFaUser", "FenFaUserDis", pieces(k, SEPARATOR));
      });
    },
    openWinU: function (url) {
      showDialog(url, "dialogWidth:400px;dialogHeight:450px", function (k) {
        if (!blank(k)) fill("BanLiUser", "BanLiUserDis", pieces(k, SEPARATOR));
      });
    },
    openWinC: function (url) {
      showDialog(url, "dialogWidth:405px;dialogHeight:450px", function (k) {
        var parts = pieces(k, SEPARATOR);
        if (parts.length < 2) return;
        form().FenFaBuMen.value = ";" + parts[0] + ";";
        form().FenFaBuMenDis.value = parts[1].split(";").join(",");
      });
    },
    openWinB: function (url) {
      showDialog(url, "dialogWidth:400px;dialogHeight:430px", function (k) {
        if (pieces(k, SEPARATOR).length > 0) fill("BanLiUser", "BanLiUserDis", pieces(k, "#"));
      });
    },
    openWin: function (url) {
      showDialog(url, "dialogWidth:450px;dialogHeight:300px", function (k) {
        if (!blank(k) && form().TiaoJian) form().TiaoJian.value = k;
      });
    },
    doDelCondition: function () {
      var list = form().ConditionList;
      if (list.selectedIndex < 0) {
        alert("\u8bf7\u9009\u62e9\u8981\u5220\u9664\u7684\u6761\u4ef6\uff01");
        return;
      }
      list.remove(list.selectedIndex);
    }
  };
  for (var name in functions) {
    if (functions.hasOwnProperty(name) && typeof window[name] === "undefined") window[name] = functions[name];
  }

  // --- "vbscript:" event handlers --------------------------------------------

  // The VBScript functions a handler may call, by lower-case name.
  var builtins = {
    replace: function (s, find, by) { return s === null ? null : String(s).split(String(find)).join(String(by)); },
    trim: function (s) { return String(s).replace(/^ +| +$/g, ""); },
    lcase: function (s) { return String(s).toLowerCase(); },
    ucase: function (s) { return String(s).toUpperCase(); },
    len: function (s) { return String(s).length; }
  };

  function tokenize(text) {
    var tokens = [], re = /\s*(?:("(?:[^"]|"")*")|('[^']*')|([A-Za-z_]\w*)|(\d+(?:\.\d+)?)|([(),.&]))/g, m, at = 0;
    text = text.replace(/\s+$/, "");
    while (at < text.length) {
      re.lastIndex = at;
      m = re.exec(text);
      if (!m || m.index !== at) throw new SyntaxError("vbscript handler: " + text);
      if (m[1]) tokens.push({ kind: "text", value: m[1].slice(1, -1).replace(/""/g, '"') });
      // The pages quote their handlers' texts with apostrophes.
      else if (m[2]) tokens.push({ kind: "text", value: m[2].slice(1, -1) });
      else if (m[3]) tokens.push({ kind: "name", value: m[3] });
      else if (m[4]) tokens.push({ kind: "text", value: Number(m[4]) });
      else tokens.push({ kind: m[5] });
      at = re.lastIndex;
    }
    return tokens;
  }

  // A case-insensitive member of an object, as VBScript looks names up.
  function member(object, name) {
    if (name in Object(object)) return object[name];
    var lower = name.toLowerCase();
    for (var key in object) if (key.toLowerCase() === lower) return object[key];
    return undefined;
  }

  function invoke(target, self, args) {
    if (typeof target === "function") return Function.prototype.apply.call(target, self, args);
    // A collection called with an index or name (document.all("x")) gives its item.
    if (target !== undefined && target !== null && typeof target.item === "function") return target.item.apply(target, args);
    throw new TypeError("vbscript handler: not a function");
  }

  // Compiles one VBScript call ("name args", "name(args)" or "call name(args)")
  // into a function of the element, or returns null when it is something else.
  function compile(text) {
    var tokens = tokenize(text), at = 0;
    function peek(kind) { return at < tokens.length && tokens[at].kind === kind; }
    function take(kind) {
      if (!peek(kind)) throw new SyntaxError("vbscript handler: " + text);
      return tokens[at++];
    }
    function args() {
      var list = [];
      if (peek(")")) return list;
      list.push(concat());
      while (peek(",")) { at++; list.push(concat()); }
      return list;
    }
    function primary() {
      if (peek("text")) { var v = tokens[at++].value; return function () { return v; }; }
      if (peek("(")) { at++; var inner = concat(); take(")"); return inner; }
      var name = take("name").value;
      return function (element) {
        var lower = name.toLowerCase();
        if (lower === "document") return document;
        if (lower === "window") return window;
        if (lower === "me") return element;
        if (builtins.hasOwnProperty(lower)) return builtins[lower];
        return member(window, name);
      };
    }
    function postfix() {
      var get = primary();
      for (;;) {
        if (peek(".")) {
          at++;
          var prop = take("name").value, object = get;
          get = (function (object, prop) {
            return function (element) { return member(object(element), prop); };
          })(object, prop);
        } else if (peek("(")) {
          at++;
          var list = args();
          take(")");
          get = (function (callee, list) {
            return function (element) {
              var values = [];
              for (var i = 0; i < list.length; i++) values.push(list[i](element));
              return invoke(callee(element), null, values);
            };
          })(get, list);
        } else {
          return get;
        }
      }
    }
    function concat() {
      var parts = [postfix()];
      while (peek("&")) { at++; parts.push(postfix()); }
      if (parts.length === 1) return parts[0];
      return function (element) {
        var s = "";
        for (var i = 0; i < parts.length; i++) {
          var v = parts[i](element);
          s += v === undefined || v === null ? "" : String(v);
        }
        return s;
      };
    }
    if (peek("name") && tokens[at].value.toLowerCase() === "call") at++;
    var callee = take("name").value, list = [];
    if (peek("(")) {
      // "name(a, b)": the parentheses hold the arguments.
      at++;
      list = args();
      take(")");
    } else if (at < tokens.length) {
      list = args();
    }
    if (at !== tokens.length) throw new SyntaxError("vbscript handler: " + text);
    return function (element) {
      var values = [];
      for (var i = 0; i < list.length; i++) values.push(list[i](element));
      var target = member(window, callee);
      if (target === undefined) throw new ReferenceError(callee + " is not defined");
      return invoke(target, element, values);
    };
  }

  function rewriteHandlers() {
    var all = document.getElementsByTagName("*");
    for (var i = 0; i < all.length; i++) {
      var attributes = all[i].attributes;
      for (var j = 0; j < attributes.length; j++) {
        var attribute = attributes[j], m = /^\s*vbscript:([\s\S]*)$/i.exec(attribute.value);
        if (!m || !/^on/i.test(attribute.name)) continue;
        var run;
        try { run = compile(m[1]); } catch (e) { continue; }
        all[i][attribute.name.toLowerCase()] = (function (run) {
          return function () { run(this); };
        })(run);
      }
    }
  }

  if (document.readyState === "loading") document.addEventListener("DOMContentLoaded", rewriteHandlers);
  else rewriteHandlers();
})();
