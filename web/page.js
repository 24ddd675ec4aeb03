// The page's behaviour: the table from the data block, sorting and the q
// filter, and one selection shared by the table, the profile and the 3D view.
(function () {
  'use strict';
  const D = JSON.parse(document.getElementById('vorn-data').textContent);
  const rows = D.rows;
  const classes = { s: 'scored', c: 'conserved', u: 'no score' };
  const columns = [
    { key: 'nr', title: 'Column' }, { key: 'aa', title: 'Residue', text: true },
    { key: 'num', title: 'Number' }, { key: 'chain', title: 'Chain', text: true },
    { key: 'cls', title: 'Class', text: true, show: (v) => classes[v] },
    { key: 'score', title: 'Score', show: (v, r) => (r.cls === 'c' ? 'conserved' : v) },
    { key: 'grade', title: 'Grade', show: (v, r) => (v ? String(v) + (r.insufficient ? '*' : '') : r.insufficient ? '*' : '') },
    { key: 'entrop', title: 'Entropy' }];
  // P and q to three significant digits; the TSV keeps the full fields.
  const digits = (v) => { const x = parseFloat(v); return isNaN(x) ? v : x >= 0.001 || x === 0 ? x.toPrecision(3) : x.toExponential(2); };
  if (D.shuffled) columns.push({ key: 'z', title: 'Z' }, { key: 'p', title: 'P', show: digits }, { key: 'q', title: 'q', q: true, show: digits });
  if (D.tree) columns.push({ key: 'zt', title: 'tree Z' }, { key: 'pt', title: 'tree P', show: digits }, { key: 'qt', title: 'tree q', q: true, show: digits });
  columns.push({ key: 'residues', title: 'Residues', text: true });
  const SIGNIFICANT = 0.05;
  const value = (r, key) => {
    const v = r[key];
    return v === null || v === undefined || v === '' ? NaN : typeof v === 'number' ? v : parseFloat(v);
  };

  // Residue addresses: a site's own chain, or any chain for a blank one (as
  // the .pml's "resi N" selects), both resolved by the page's writer.
  const address = (r) => (r.chain === '' ? '*|' : r.schain + '|') + r.num;
  const rowAt = new Map();
  rows.forEach((r, i) => { if (r.num !== null) rowAt.set(address(r), i); });
  // A ligand or water that shares a residue number is not that residue.
  const protein = new Set(D.structure ? D.structure.residues : []);
  const isProtein = (atom) => protein.has(atom.chain + '|' + atom.resi);
  const rowOfAtom = (atom) => {
    if (!isProtein(atom)) return undefined;
    const own = rowAt.get(atom.chain + '|' + atom.resi);
    return own !== undefined ? own : rowAt.get('*|' + atom.resi);
  };

  // The colours, as the .pml and the profile colour: by grade (or, classic, a ramp by score).
  const P = D.palette;
  const BASE = P.none, CONSERVED = P.conserved, HIGHLIGHT = P.selected;
  const ramp = (score) => {
    const t = Math.min(1, Math.max(0, (score + 1) / 2));
    const c = (x) => Math.round(255 * x).toString(16).padStart(2, '0');
    return '#' + (t < 0.5 ? c(2 * t) + c(2 * t) + 'ff' : 'ff' + c(2 - 2 * t) + c(2 - 2 * t));
  };
  function colourOfRow(r) {
    if (r.cls === 'c') return CONSERVED;
    if (r.cls !== 's') return BASE;
    return P.classic ? ramp(parseFloat(r.score)) : P.grades[r.grade - 1];
  }

  // The table.
  const table = document.getElementById('table');
  const head = document.createElement('tr');
  columns.forEach((c) => {
    const th = document.createElement('th');
    th.textContent = c.title;
    th.dataset.key = c.key;
    head.appendChild(th);
  });
  table.tHead.appendChild(head);
  const body = table.tBodies[0];
  const trs = rows.map((r, i) => {
    const tr = document.createElement('tr');
    tr.className = r.cls;
    tr.dataset.i = i;
    tr.dataset.nr = r.nr;
    columns.forEach((c) => {
      const td = document.createElement('td');
      const v = r[c.key];
      td.textContent = v === null || v === undefined ? '' : c.show ? c.show(v, r) : String(v);
      if (c.text) td.className = c.key === 'cls' ? 'text cls' : c.key === 'residues' ? 'residues' : 'text';
      if (c.key === 'grade') {
        td.className = 'grade';
        if (r.insufficient) td.title = 'insufficient data: few usable pairs or many gaps';
        const colour = colourOfRow(r);
        if (r.cls === 's' && colour) { td.style.background = colour; td.style.color = r.grade <= 2 || r.grade >= 9 ? '#fff' : '#000'; }
      }
      if (c.q && value(r, c.key) <= SIGNIFICANT) td.className = 'sig';
      tr.appendChild(td);
    });
    body.appendChild(tr);
    return tr;
  });

  let order = { key: null, dir: 1 };
  function sortBy(key) {
    order = { key, dir: order.key === key ? -order.dir : key === 'nr' ? 1 : -1 };
    const text = columns.find((c) => c.key === key).text;
    const idx = rows.map((_, i) => i);
    idx.sort((a, b) => {
      if (text) return order.dir * String(rows[a][key]).localeCompare(String(rows[b][key])) || rows[a].nr - rows[b].nr;
      const x = value(rows[a], key), y = value(rows[b], key);
      if (isNaN(x) !== isNaN(y)) return isNaN(x) ? 1 : -1;  // empty fields last either way
      return (isNaN(x) ? 0 : order.dir * (x - y)) || rows[a].nr - rows[b].nr;
    });
    idx.forEach((i) => body.appendChild(trs[i]));
    head.querySelectorAll('th').forEach((th) => {
      th.className = th.dataset.key === key ? (order.dir > 0 ? 'asc' : 'desc') : '';
    });
  }
  head.addEventListener('click', (e) => { if (e.target.dataset.key) sortBy(e.target.dataset.key); });
  sortBy('score');  // best first, as users rank columns

  // One filter per q-value the run has.
  const filters = document.getElementById('filters');
  const active = new Set();
  columns.filter((c) => c.q).forEach((c) => {
    const label = document.createElement('label');
    const box = document.createElement('input');
    box.type = 'checkbox';
    box.id = 'filter-' + c.key;
    box.addEventListener('change', () => {
      if (box.checked) active.add(c.key); else active.delete(c.key);
      trs.forEach((tr, i) => { tr.hidden = [...active].some((k) => !(value(rows[i], k) <= SIGNIFICANT)); });
    });
    label.appendChild(box);
    label.appendChild(document.createTextNode(' only ' + c.title + ' \u2264 0.05'));
    filters.appendChild(label);
  });

  // The profile's marks.
  const profile = document.getElementById('profile');
  const tip = document.createElement('div');
  tip.id = 'tip';
  profile.insertBefore(tip, profile.querySelector('svg'));
  const marks = profile.querySelectorAll('.mark[data-nr]');
  const rowOfColumn = new Map(rows.map((r, i) => [r.nr, i]));
  marks.forEach((m) => {
    m.addEventListener('mouseenter', () => { tip.textContent = m.querySelector('title').textContent; });
    m.addEventListener('click', () => select(rowOfColumn.get(Number(m.dataset.nr)), 'profile'));
  });

  // The 3D view, coloured as the .pml colours the structure.
  // A structure that is not the family's is shown grey, without scores or labels.
  let viewer = null;
  const colourOf = new Map();
  rows.forEach((r) => { if (r.num !== null && !D.wrong_structure) colourOf.set(address(r), colourOfRow(r)); });
  const labelled = D.wrong_structure ? [] : D.best;
  const atomColour = (atom) => (isProtein(atom) &&
    (colourOf.get(atom.chain + '|' + atom.resi) || colourOf.get('*|' + atom.resi))) || BASE;
  const selection = (r) => ({ chain: r.schain, resi: r.num });
  const water = ['HOH', 'WAT', 'DOD'];

  function paint() {
    viewer.setStyle({}, { cartoon: { colorfunc: atomColour } });
    viewer.addStyle({ hetflag: true, not: { resn: water } },
      { stick: { radius: 0.15, colorfunc: atomColour } });
    labelled.forEach((i) => viewer.addStyle(selection(rows[i]), { stick: { radius: 0.25, colorfunc: atomColour } }));
  }

  if (D.structure && window.$3Dmol) {
    try {
      viewer = $3Dmol.createViewer(document.getElementById('viewer'), { backgroundColor: 'white' });
      viewer.addModel(D.structure.text, D.structure.format);
      paint();
      labelled.forEach((i) => {
        const r = rows[i];
        const ca = viewer.selectedAtoms(Object.assign({ atom: 'CA' }, selection(r)))[0];
        if (ca) viewer.addLabel(r.label, { position: { x: ca.x, y: ca.y, z: ca.z }, fontSize: 11, fontColor: 'white',
          backgroundColor: 'black', backgroundOpacity: 0.6, inFront: true });
      });
      viewer.setClickable({}, true, (atom) => {
        const i = rowOfAtom(atom);
        if (i !== undefined) select(i, 'viewer');
      });
      viewer.zoomTo({ hetflag: false });  // fitted to the protein, not to its waters
      viewer.zoom(1.3);  // zoomTo leaves a wide margin
      viewer.render();
    } catch (e) {
      viewer = null;
      const p = document.createElement('p');
      p.className = 'warning';
      p.textContent = 'No 3D view: this browser could not start it (' + e.message + ').';
      document.getElementById('viewer').replaceWith(p);
    }
  }

  // The alignment around the selected column: the proteins in the order that keeps similar ones together
  // (a sample of them in a large family), the column and five on either side.
  const panel = document.getElementById('panel'), panelNote = document.getElementById('panel-note');
  const AROUND = 5;
  function showColumn(nr) {
    if (!panel || !D.panel.rows.length) return;
    const from = Math.max(1, nr - AROUND), to = Math.min(D.panel.rows[0][2].length, nr + AROUND);
    const table = document.createElement('table');
    const head = table.createTHead().insertRow();
    head.insertCell().textContent = 'protein';
    for (let c = from; c <= to; ++c) {
      const th = document.createElement('th');
      th.textContent = c;
      if (c === nr) th.className = 'here';
      head.appendChild(th);
    }
    const body = table.createTBody();
    D.panel.rows.forEach(([, name, residues]) => {
      const tr = body.insertRow();
      tr.insertCell().textContent = name;
      for (let c = from; c <= to; ++c) {
        const td = tr.insertCell();
        td.textContent = residues[c - 1];
        if (c === nr) td.className = 'here';
      }
    });
    panel.replaceChildren(table);
    const shown = D.panel.rows.length;
    panelNote.textContent = 'Column ' + nr + ' and its neighbours in ' + (shown === D.panel.proteins ? 'all ' + shown +
      ' proteins' : shown + ' of the ' + D.panel.proteins + ' proteins (every ' +
      (D.panel.proteins / shown).toFixed(1) + 'th)') + ', each next to the one most similar to it.';
  }

  // One selection for the three views.
  const state = { selected: null };
  function select(i, from) {
    if (i === undefined || i === null) return;
    const r = rows[i];
    trs.forEach((tr) => tr.classList.remove('sel'));
    trs[i].classList.add('sel');
    // The table scrolls within its box, so the page (and the view) stays put.
    const box = table.parentElement;
    if (from !== 'table' && !trs[i].hidden) box.scrollTop = trs[i].offsetTop - box.clientHeight / 2;
    marks.forEach((m) => m.classList.toggle('sel', Number(m.dataset.nr) === r.nr));
    tip.textContent = r.label + ' (column ' + r.nr + '): score ' + r.score;
    showColumn(r.nr);
    state.selected = i;
    if (viewer && r.num !== null) {
      paint();
      const sel = selection(r);
      if (viewer.selectedAtoms(sel).length) {
        // Replaced, not added to: a colour function left in place would win over the colour.
        viewer.setStyle(sel, { cartoon: { colorfunc: atomColour }, stick: { radius: 0.35, color: HIGHLIGHT } });
        viewer.center(sel);
      }
      viewer.render();
    }
  }
  body.addEventListener('click', (e) => {
    const tr = e.target.closest('tr');
    if (tr) select(Number(tr.dataset.i), 'table');
  });

  // For scripts and tests: the viewer and the selection.
  window.vornPage = { viewer: () => viewer, selected: () => state.selected, best: () => labelled, rows, select, HIGHLIGHT,
    colourOf: (i) => colourOf.get(address(rows[i])) || BASE, palette: P };
})();
