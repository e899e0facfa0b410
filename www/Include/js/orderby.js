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
